#include "platform/sim/standard_board.h"

#include <cstdio>

#include "platform/platform.h"
#include "platform/sim/board_control.h"
#include "platform/sim/c331_model.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_fpga.h"
#include "platform/sim/spi_nor_flash.h"
#include "platform/sim/video_chips.h"

namespace plat::sim {

namespace {

std::string where(const wiring::ChipWiring& c) {
    if (c.bus == wiring::ChipBus::Spi) return std::string("on ") + c.spiNode;
    if (c.address == 0) return "on its reset line only";
    char b[64];
    if (c.muxAddress == wiring::kNoMux)
        std::snprintf(b, sizeof b, "on i2c-%d at 0x%02X", wiring::kI2cBus, c.address);
    else
        std::snprintf(b, sizeof b, "on i2c-%d mux 0x%02X channel %d at 0x%02X", wiring::kI2cBus, c.muxAddress,
                      c.muxChannel, c.address);
    return b;
}

// The receiver (or the EXT path's transmitter) passes the picture on to its C331 input
// port, whose measurement then counts the whole raster: "signal" changes both, as a cable
// plugged into the real board does.
void driveScalerInput(SimBoard& board, const std::vector<std::string>& args) {
    const wiring::VideoInputWiring* in = findVideoInput(args[0]);
    auto scaler = board.find<C331Model>("c331");
    if (!in || !scaler) return;
    C331Model::InputSignal picture;  // pulled: nothing to count
    InputSignal s;
    std::string error;
    if (!(args.size() == 2 && (args[1] == "off" || args[1] == "none")) &&
        parseSignal(std::vector<std::string>(args.begin() + 1, args.end()), &s, &error)) {
        const VideoTiming& t = s.timing;
        picture.htotal = t.htotal;
        picture.vtotal = t.vtotal;
        picture.hact = t.hact;
        picture.hz = double(t.pixelKhz) * 1000.0 / (double(t.htotal) * double(t.vtotal));
        picture.lanes = vboLanes(s);
    }
    scaler->setInputSignal(in->scalerPort, picture);
}

}  // namespace

const std::map<std::string, ModelFactory>& modelCatalog() {
    static const std::map<std::string, ModelFactory> catalog = {
        {"i2c-mux",
         [](const wiring::ChipWiring& c) { return std::make_shared<I2cMuxModel>(wiring::kI2cMuxChannels, c.name); }},
        {"c331",
         [](const wiring::ChipWiring& c) {
             auto chip = std::make_shared<C331Model>(c.name);
             chip->seedFlashIfNew();
             return chip;
         }},
        {"fpga",
         [](const wiring::ChipWiring& c) {
             // FPGA 1 has two command lines; both go high for its command word
             const bool first = c.resetLine == wiring::kGpioFpga0Reset;
             const SimFpgaLines lines{first ? wiring::kGpioFpga0Command : wiring::kGpioFpga1CommandA,
                                      first ? 0 : wiring::kGpioFpga1CommandB, c.resetLine, c.irqLine};
             return std::make_shared<SimFpga>(c.name, lines);
         }},
        {"spi-nor",
         [](const wiring::ChipWiring& c) {
             const bool first = std::string(c.name) == "flash0";
             return std::make_shared<SpiNorFlash>(c.name, norPart("nor-8m"), c.store, kFpgaFlashUid[first ? 0 : 1]);
         }},
        {"edid-eeprom",
         [](const wiring::ChipWiring& c) { return std::make_shared<EdidEepromModel>(c.name, c.writeLine, c.store); }},
        {"it6602",
         [](const wiring::ChipWiring& c) {
             return std::make_shared<VideoReceiverModel>(c.name, VideoReceiverModel::Kind::It6602, c.resetLine);
         }},
        {"ite6805",
         [](const wiring::ChipWiring& c) {
             return std::make_shared<VideoReceiverModel>(c.name, VideoReceiverModel::Kind::Ite6805, c.resetLine);
         }},
        {"it66121",
         [](const wiring::ChipWiring& c) {
             return std::make_shared<VideoReceiverModel>(c.name, VideoReceiverModel::Kind::It66121, c.resetLine);
         }},
        {"gs2971", [](const wiring::ChipWiring& c) { return std::make_shared<SdiReceiverModel>(c.name, c.resetLine); }},
        {"audio-switch", [](const wiring::ChipWiring& c) { return std::make_shared<AudioSwitchModel>(c.name); }},
        {"clock-synth", [](const wiring::ChipWiring& c) { return std::make_shared<ClockSynthModel>(c.name); }},
        {"port-expander", [](const wiring::ChipWiring& c) { return std::make_shared<PortExpanderModel>(c.name); }},
    };
    return catalog;
}

std::vector<std::string> plugDemoCards(SimBoard& board) {
    std::vector<std::string> lines;
    auto f0 = board.find<SimFpga>("fpga0");
    auto f1 = board.find<SimFpga>("fpga1");
    if (!f0 || !f1) return lines;
    board.underLock([&] {
        f0->attachCards(0, 8);
        f0->attachCards(1, 8);
        f0->chain(1)->cards[0].multiFunction = true;
        f1->attachCards(0, 4);
    });
    lines.push_back("cards: fpga0 port 1 8, port 2 8 (light sensor), fpga1 port 1 4");
    return lines;
}

std::vector<std::string> buildStandardBoard(SimBoard& board) {
    std::vector<std::string> lines;
    const auto& catalog = modelCatalog();
    // Power-on levels of lines the SoC has not driven yet: reset lines are pulled up
    // (chips running), the FPGA selects idle high.
    for (const wiring::ChipWiring& c : wiring::kChips)
        if (c.resetLine) board.setReg16(c.resetLine, wiring::kLineHigh);
    board.setReg16(wiring::kGpioFpga0Select, wiring::kLineHigh);
    board.setReg16(wiring::kGpioFpga1Select, wiring::kLineHigh);
    for (const wiring::ChipWiring& c : wiring::kChips) {
        std::string line = std::string(c.name) + ": " + c.what + " " + where(c);
        auto factory = catalog.find(c.model);
        if (factory == catalog.end()) {
            lines.push_back(line + ": no model yet");
            continue;
        }
        std::shared_ptr<ChipModel> model = factory->second(c);
        if (c.bus == wiring::ChipBus::Spi) {
            auto spi = std::dynamic_pointer_cast<SpiDeviceModel>(model);
            std::vector<std::pair<uint32_t, uint16_t>> levels;
            for (const wiring::LineLevel& l : c.select)
                if (l.offset) levels.emplace_back(l.offset, l.level);
            if (!spi) {
                lines.push_back(line + ": model is not an SPI chip");
                continue;
            }
            board.attachSpi(c.spiNode, spi, levels.empty() ? SpiSelect{} : gpioLinesAre(levels));
        } else {
            auto i2c = std::dynamic_pointer_cast<I2cDeviceModel>(model);
            if (c.address == 0) {
                board.attachModel(model);  // reached only through its lines
                lines.push_back(line + ": attached");
                continue;
            }
            if (!i2c) {
                lines.push_back(line + ": model is not an I2C chip");
                continue;
            }
            I2cPath path;
            if (c.muxAddress != wiring::kNoMux) path.push_back(I2cHop{c.muxAddress, c.muxChannel});
            board.attachI2c(wiring::kI2cBus, path, c.address, i2c);
        }
        lines.push_back(line + ": attached");
    }
    return lines;
}

void registerChipCommands() {
    registerBoardCommand("chips", "chips: every chip attached, with its driver-misuse count",
                         [](const std::vector<std::string>&) {
                             std::string out = "OK";
                             SimBoard& b = board();
                             for (const std::string& n : b.chipNames())
                                 out += " " + n + "=" + std::to_string(b.findChip(n)->misuseCount());
                             return out;
                         });
    registerBoardCommand("chip", "chip NAME WORDS...: a command of that chip's model",
                         [](const std::vector<std::string>& a) -> std::string {
                             if (a.empty()) return "ERR chip NAME WORDS...";
                             auto model = board().findChip(a[0]);
                             if (!model) return "ERR no chip " + a[0];
                             std::string answer;
                             board().underLock([&] {
                                 answer = model->control(std::vector<std::string>(a.begin() + 1, a.end()));
                             });
                             return answer;
                         });
    registerBoardCommand("signal",
                         "signal [INPUT [WxH@RATE [i] [dp] [lanes N] [dvi] [yuv] | off]]: plug a source into a video "
                         "input (EXT, DVI, HDMI1..HDMI4) or pull it out",
                         [](const std::vector<std::string>& a) {
                             const std::string answer = signalCommand(board(), a);
                             if (a.size() >= 2 && answer.rfind("OK", 0) == 0) driveScalerInput(board(), a);
                             return answer;
                         });
    registerBoardCommand("clock", "clock [step MS | wall YYYY-MM-DD hh:mm:ss]: board time and wall clock",
                         [](const std::vector<std::string>& a) -> std::string {
                             SimBoard& b = board();
                             if (a.size() == 2 && a[0] == "step") {
                                 char* end = nullptr;
                                 const unsigned long ms = std::strtoul(a[1].c_str(), &end, 10);
                                 if (a[1].empty() || *end != '\0') return "ERR clock step MS";
                                 b.step(static_cast<BoardNs>(ms) * kNsPerMs);
                             } else if (a.size() >= 2 && a[0] == "wall") {
                                 std::string text = a[1];
                                 for (size_t i = 2; i < a.size(); ++i) text += " " + a[i];
                                 std::time_t t;
                                 if (!parseDateTime(text, plat::timeOfDay(), &t)) return "ERR bad date " + text;
                                 b.setWallClock(t);
                             } else if (!a.empty()) {
                                 return "ERR clock [step MS | wall YYYY-MM-DD hh:mm:ss]";
                             }
                             const std::time_t wall = plat::timeOfDay();
                             std::tm tm{};
                             char stamp[32] = "?";
                             if (localtime_r(&wall, &tm)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
                             return "OK board " + std::to_string(b.now() / kNsPerMs) + " ms, wall " + stamp;
                         });
}

}  // namespace plat::sim
