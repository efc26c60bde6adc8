#pragma once
// Chip models of the video path on the simulated board's I2C bus, after the register
// maps of platform/video_chip_map.h: the EDID EEPROMs, the HDMI receivers, the SDI
// receiver and the transmitter of the EXT path, the audio switch, the two pixel-clock
// synthesisers and the output-port expander.
//
// A signal plugged into an input (board-control "signal HDMI1 1920x1080@60") is seen by
// its receiver once the receiver can see it (out of reset, hot-plug asserted) and is
// reported stable a settle time later on the board clock, as a real receiver locks
// some time after the source starts. Pulling it is seen at once.
#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/board_wiring.h"
#include "platform/sim/chip_store.h"
#include "platform/sim/i2c_device_model.h"
#include "platform/video_timing.h"

namespace plat::sim {

constexpr BoardNs kReceiverSettle = 200 * kNsPerMs;
constexpr BoardNs kSdiSettle = 100 * kNsPerMs;

// What a source sends into one input.
struct InputSignal {
    bool plugged = false;
    VideoTiming timing;
    bool doublePixel = false;  // the receiver runs two pixels per clock (horizontal values halved)
    int lanes = 0;             // V-by-One lanes (HDMI 2.0 receivers); 0 = from the pixel clock
    bool hdmi = true;
    uint8_t dataMode = 0;
};

// Parses "1920x1080@60" with the words after it ("i"/"interlaced", "dp"/"double",
// "lanes N", "dvi", "yuv"). False on anything else.
bool parseSignal(const std::vector<std::string>& words, InputSignal* out, std::string* error);
std::string describeSignal(const InputSignal& s);
// V-by-One lanes the signal takes: as plugged, else as many 75 MHz lanes as its pixel clock needs.
int vboLanes(const InputSignal& s);

// One input of a receiver: the plugged signal and when the receiver started seeing it.
class SignalInput {
public:
    void plug(const InputSignal& s, BoardNs now, bool visible);
    void unplug();
    // The receiver starts or stops seeing the source (reset, hot-plug).
    void setVisible(bool visible, BoardNs now);
    const InputSignal& signal() const { return signal_; }
    // The port block of the register map as the receiver reports it at `now`.
    void block(BoardNs now, BoardNs settle, bool reportLanes, uint8_t* out) const;
    uint8_t status(BoardNs now, BoardNs settle) const;

private:
    InputSignal signal_;
    bool visible_ = false;
    BoardNs since_ = 0;
};

// 256-byte EDID EEPROM: persistent cells, write-protected while its write line is high.
class EdidEepromModel : public I2cDeviceModel {
public:
    EdidEepromModel(std::string name, uint32_t writeLine, std::string store);
    void attached(SimBoard& board) override;
    bool write(const I2cContext& ctx, const uint8_t* data, size_t len) override;
    bool read(const I2cContext& ctx, uint8_t* data, size_t len) override;
    std::string control(const std::vector<std::string>& args) override;
    std::vector<uint8_t> contents() const;
    void setContents(const std::vector<uint8_t>& bytes);  // tests: what the factory left in it
    unsigned pageWrites() const { return pageWrites_; }
    // The next `n` transfers are not acknowledged (a chip that does not answer).
    void failTransfers(int n) { failNext_ = n; }
    // Tests: called after each page write has landed (outside the model's lock), to act
    // while the driver is between two pages of one EDID.
    void onPageWrite(std::function<void(unsigned pageWrites)> hook);

private:
    bool writePage(const I2cContext& ctx, const uint8_t* data, size_t len);  // under mutex_
    mutable std::mutex mutex_;
    std::function<void(unsigned)> pageHook_;  // under mutex_; called on a copy
    uint32_t writeLine_;
    std::string storeFile_;
    std::unique_ptr<ChipStore> store_;
    uint8_t pointer_ = 0;
    BoardNs busyUntil_ = 0;
    unsigned pageWrites_ = 0;
    int failNext_ = 0;
};

// HDMI receiver with `ports` inputs (rx-it6602: 3, rx-ite6805-N: 1, reset line), or the
// EXT-path transmitter (reports the SDI receiver's picture on port 0, needs no hot-plug).
class VideoReceiverModel : public I2cDeviceModel {
public:
    enum class Kind { It6602, Ite6805, It66121 };
    VideoReceiverModel(std::string name, Kind kind, uint32_t resetLine);
    void attached(SimBoard& board) override;
    bool write(const I2cContext& ctx, const uint8_t* data, size_t len) override;
    bool read(const I2cContext& ctx, uint8_t* data, size_t len) override;
    std::string control(const std::vector<std::string>& args) override;

    int ports() const;
    void plug(int port, const InputSignal& s);
    void unplug(int port);
    uint8_t controlReg() const;
    void failTransfers(int n) { failNext_ = n; }

private:
    bool inReset(const SimBoard& board) const;
    bool sees() const;
    void fill(const I2cContext& ctx, uint8_t reg, uint8_t* data, size_t len);
    const SignalInput* input(SimBoard& board, int port) const;

    mutable std::mutex mutex_;
    Kind kind_;
    uint32_t resetLine_;
    SimBoard* board_ = nullptr;
    std::array<SignalInput, 3> inputs_;
    std::array<uint8_t, 3> reported_{};
    uint8_t control_ = 0;
    uint8_t pointer_ = 0;
    int failNext_ = 0;
};

// SDI receiver of the EXT input: no I2C, only its reset line; it feeds the transmitter.
class SdiReceiverModel : public ChipModel {
public:
    SdiReceiverModel(std::string name, uint32_t resetLine);
    void attached(SimBoard& board) override;
    std::string control(const std::vector<std::string>& args) override;
    void plug(const InputSignal& s);
    void unplug();
    // The picture it passes on at `now`: the transmitter's port block.
    void block(BoardNs now, uint8_t* out) const;
    uint8_t status(BoardNs now) const;
    int resets() const;

private:
    mutable std::mutex mutex_;
    uint32_t resetLine_;
    SimBoard* board_ = nullptr;
    SignalInput input_;
    int resets_ = 0;
};

// Audio switch: one byte selects the input whose audio goes out.
class AudioSwitchModel : public I2cDeviceModel {
public:
    using I2cDeviceModel::I2cDeviceModel;
    bool write(const I2cContext& ctx, const uint8_t* data, size_t len) override;
    bool read(const I2cContext& ctx, uint8_t* data, size_t len) override;
    std::string control(const std::vector<std::string>& args) override;
    int route() const;
    void failTransfers(int n);
    // Tests: called after the switch took a route (outside the model's lock).
    void onRouteWrite(std::function<void(int route)> hook);

private:
    mutable std::mutex mutex_;
    std::function<void(int)> routeHook_;  // under mutex_; called on a copy
    uint8_t route_ = 0;
    int failNext_ = 0;
};

// Pixel-clock synthesiser: dividers, enable, lock after a few milliseconds of board time.
class ClockSynthModel : public I2cDeviceModel {
public:
    using I2cDeviceModel::I2cDeviceModel;
    bool write(const I2cContext& ctx, const uint8_t* data, size_t len) override;
    bool read(const I2cContext& ctx, uint8_t* data, size_t len) override;
    std::string control(const std::vector<std::string>& args) override;
    bool locked(BoardNs now) const;
    uint32_t outputKhz() const;
    void failTransfers(int n);

private:
    bool validDividers() const;
    mutable std::mutex mutex_;
    std::array<uint8_t, 256> regs_{};
    uint8_t pointer_ = 0;
    BoardNs enabledAt_ = 0;
    int failNext_ = 0;
};

// Output-port expander: output and direction registers.
class PortExpanderModel : public I2cDeviceModel {
public:
    using I2cDeviceModel::I2cDeviceModel;
    bool write(const I2cContext& ctx, const uint8_t* data, size_t len) override;
    bool read(const I2cContext& ctx, uint8_t* data, size_t len) override;
    std::string control(const std::vector<std::string>& args) override;
    // Levels of the eight lines as the output drivers see them (inputs read high).
    uint8_t lines() const;

private:
    mutable std::mutex mutex_;
    std::array<uint8_t, 4> regs_{{0xFF, 0xFF, 0x00, 0xFF}};
    uint8_t pointer_ = 0;
};

// Board-control "signal": plug a timing into an input or pull it out.
//   signal                        every input and its signal
//   signal HDMI1 1920x1080@60     plug (words: i, dp, lanes N, dvi, yuv)
//   signal HDMI1 off              pull
std::string signalCommand(SimBoard& board, const std::vector<std::string>& args);
// The input "signal" names (EXT, DVI, HDMI1..HDMI4 in any case, or 0..5); nullptr when none.
const wiring::VideoInputWiring* findVideoInput(const std::string& name);

}  // namespace plat::sim
