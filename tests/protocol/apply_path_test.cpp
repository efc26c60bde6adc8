// A change the PC was told is done reaches the chips, whatever runs between its RAM write and
// its apply (register 11 bit 1): a PC on the TCP link, sources plugged and pulled through board
// control, the input-source manager and both engines on the standard simulated board, and the
// change notification with its save on the GUI thread (this one).
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/syncupdate.h"
#include "platform/board_wiring.h"
#include "platform/platform.h"
#include "engines_fixture.h"
#include "platform/sim/board_control.h"
#include "platform/sim/video_chips.h"
#include "support/panel_touch.h"
#include "ui/output/imagequality.h"
#include "ui/shell/shell_globals.h"
#include "video_io/edid.h"
#include "video_io/kavelsource.h"

using namespace prototest;
using namespace ctl;
using namespace vlxram;

namespace {

constexpr uint32_t kRegOchTotalWidth = 0x080A02;  // output timing: total width - 2
constexpr int kHdmi1 = 2, kHdmi2 = 3;

class ApplyPathTest : public EnginesWorld {
protected:
    void SetUp() override {
        makeApplication();
        EnginesWorld::SetUp();
        if (HasFatalFailure()) return;
        // EEPROMs as the factory left them, each with the EDID its input offers
        for (const auto& in : plat::wiring::kVideoInputs)
            plat::sim::board().find<plat::sim::EdidEepromModel>(in.edid)->setContents(defaultEdid(edidKindOfSource(in.source)));
        plat::sim::registerChipCommands();
        ASSERT_TRUE(plat::sim::startBoardControl());
        src = kavelsource::pInstance();
        ASSERT_TRUE(src->prepare());
        kavelsource::linkScaler();
        QObject::connect(store, &VlxRamPara::sig_update_para, SyncUpdate::pInstance(), &SyncUpdate::para_sync);
        pc = std::make_unique<RawClient>(networkManage::p_networkManage->port());
        ASSERT_TRUE(pc->connected());
        // window 0 shows a live HDMI1 picture
        ASSERT_EQ(board("signal HDMI1 1920x1080@60"), "OK HDMI1 1920x1080@60");
        ASSERT_EQ(write(*pc, windowField(0, kWinSource), kHdmi1), kStatusOk);
        ASSERT_EQ(apply(*pc), kStatusOk);
        const int port = c331_manage::vlxApi_inputCvtC331(kHdmi1);
        ASSERT_TRUE(tickUntil([&] { return scaler->PI_STATE(port) != 0 && windowBackground() == 0; }, 500))
            << "state " << scaler->PI_STATE(port) << ", background " << windowBackground();
    }
    void TearDown() override {
        QObject::disconnect(store, &VlxRamPara::sig_update_para, nullptr, nullptr);
        pc.reset();
        stopLinks();
        src = nullptr;
        kavelsource::resetInstanceForTest();
        plat::sim::stopBoardControl();
        EnginesWorld::TearDown();
    }
    // The input-source manager's pass and the GUI thread's events follow each engine pass.
    void otherPasses() override {
        if (src) src->source_deal();
        QCoreApplication::processEvents();
    }
    // One line of board control over its socket, and its answer.
    static std::string board(const std::string& line) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, plat::sim::boardControlSocketPath().c_str(), sizeof addr.sun_path - 1);
        std::string answer;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            const std::string out = line + "\n";
            ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
            char c;
            pollfd p{fd, POLLIN, 0};
            while (::poll(&p, 1, 5000) > 0 && ::recv(fd, &c, 1, 0) == 1 && c != '\n') answer.push_back(c);
        }
        ::close(fd);
        return answer;
    }
    // A request and its reply's status.
    static uint8_t ask(RawClient& c, const std::vector<uint8_t>& f) {
        c.send(line(f));
        const std::vector<uint8_t> r = c.receive();
        return r.size() > kPayload ? r[kPayload] : 0xEE;
    }
    static uint8_t write(RawClient& c, unsigned address, uint16_t value) { return ask(c, memWrite(address, le16(value))); }
    static uint8_t apply(RawClient& c) { return ask(c, regWrite(11, 0x02, 0x02)); }

    // Background enable of the first output channel of window 0 (1: black).
    unsigned windowBackground() const {
        const int k = scaler->recordOf(0);
        if (k < 0) return 99;
        for (int o = 0; o < OCH_MAX; ++o)
            if (scaler->PM_WIN_NUM[o] == k) return c331->regValue(c331::kRegOchBgEnable, 16u * unsigned(o));
        return 98;
    }
    // HDMI2 plugged or pulled.
    void toggleHdmi2() {
        hdmi2On = !hdmi2On;
        const std::string want = hdmi2On ? "1280x720@60" : "off";
        ASSERT_EQ(board("signal HDMI2 " + want), "OK HDMI2 " + want);
    }
    // ... and the change code of its timing handled on this thread: the saved RAM took a
    // PC's pending write with it.
    void toggleHdmi2AndSave() {
        toggleHdmi2();
        const uint16_t width = hdmi2On ? 1280 : 0;
        ASSERT_TRUE(tickUntil([&] { return store->shadowU16(kInputTiming + kInputTimingSize * kHdmi2) == width; }))
            << "HDMI2 " << width;
    }

    kavelsource* src = nullptr;
    std::unique_ptr<RawClient> pc;
    bool hdmi2On = false;
};

}  // namespace

// For each group of words the scaler manager applies: a RAM write, a source plugged or pulled
// (its change code saves the RAM), then the apply.
TEST_F(ApplyPathTest, EachGroupOfWordsReachesTheChipsWhenASourceChangesBeforeTheApply) {
    auto* audio = plat::sim::board().find<plat::sim::AudioSwitchModel>("audio-switch").get();
    const uint16_t contrast = store->ramU16(kContrast) == 0x60 ? 0x30 : 0x60;
    const uint16_t output = store->ramU16(windowField(0, kWinOutput)) | 1;  // black
    const uint16_t sound = store->ramU16(windowField(0, kWinSound)) ^ 0x8000;
    const uint16_t ledWidth = store->ramU16(kLedWidth) == 1280 ? 1024 : 1280;
    ASSERT_EQ(store->ramU16(kAudioWindow), 0);
    const uint32_t totalWidthBefore = c331->regValue(kRegOchTotalWidth);
    struct Group {
        const char* name;
        unsigned address;
        uint16_t value;
        std::function<bool()> reached;
    } groups[] = {
        {"picture", kContrast, contrast,
         [&] { return c331->regValue(c331::kRegContrast0) == contrast * 1023u / 100; }},
        {"window", windowField(0, kWinOutput), output, [&] { return windowBackground() == 1; }},
        {"sound", windowField(0, kWinSound), sound,
         [&] { return audio->route() == ((sound & 0x8000) ? 1 + kHdmi1 : 0); }},
        {"output panel", kLedWidth, ledWidth,
         [&] {
             const uint32_t total = c331->regValue(kRegOchTotalWidth);
             return scaler->panel.ledW == ledWidth && total != totalWidthBefore && total == store->ramU16(kPanelResults + 4) + 18u;
         }},
    };
    for (const Group& g : groups) {
        SCOPED_TRACE(g.name);
        ASSERT_EQ(write(*pc, g.address, g.value), kStatusOk);
        toggleHdmi2AndSave();
        EXPECT_FALSE(g.reached()) << "nothing is applied before register 11";
        ASSERT_EQ(apply(*pc), kStatusOk);
        EXPECT_TRUE(tickUntil(g.reached, 500));
        EXPECT_EQ(store->ramU16(g.address), g.value);
    }
    EXPECT_EQ(c331->guestErrors(), 0u);
}

// The fade's frame waits sleep on the pass's thread with the manage mutex let go. The first
// of them holds the fade until the PC's write and apply made then are answered, so that
// change is made during the fade on every run, whatever the machine's load.
namespace {
constexpr int kGateArmed = 1, kGateHeld = 2, kGateOpen = 3;
std::atomic<int> g_fadeGate{kGateOpen};
std::atomic<unsigned> g_fadeStepsBefore{0};
std::thread::id g_passThread;
void holdTheFadeForThePc(uint64_t) {
    if (std::this_thread::get_id() != g_passThread || g_fadeGate != kGateArmed ||
        c331_manage::pInstance()->fade_steps <= g_fadeStepsBefore)
        return;
    g_fadeGate = kGateHeld;
    while (g_fadeGate == kGateHeld) std::this_thread::yield();
}
}  // namespace

// 200 applied contrast writes from a PC while the panel is touched, a source comes and goes and a
// window fades to another input: each one reaches the chip with the first pass that begins after
// its apply is answered (a change let in between the fade's frames, with the pass after the fade).
TEST_F(ApplyPathTest, TwoHundredAppliedWritesUnderTouchesSourceChangesAndAFadeAllReachTheChip) {
    // window 0 fades over 10 frames when its source switches
    ASSERT_EQ(write(*pc, kFadeTable, 10), kStatusOk);
    ASSERT_EQ(write(*pc, kFadeTable + 2, 10), kStatusOk);
    ASSERT_EQ(write(*pc, windowField(0, kWinOutput), uint16_t(store->ramU16(windowField(0, kWinOutput)) | 4)), kStatusOk);
    ASSERT_EQ(apply(*pc), kStatusOk);
    ASSERT_TRUE(tickUntil([] { return c331_manage::update_flag == 0; }));
    ImageQuality screen;
    screen.show();
    g_page_focus = 11;
    QPushButton* sharper = screen.findChild<QPushButton*>(QStringLiteral("Button_sharpness_add"));
    QPushButton* softer = screen.findChild<QPushButton*>(QStringLiteral("Button_sharpness_reduce"));
    ASSERT_TRUE(sharper && softer);

    constexpr int kWrites = 200, kDuringTheFade = kWrites / 2;
    g_fadeStepsBefore = scaler->fade_steps.load();
    g_passThread = std::this_thread::get_id();
    g_fadeGate = kGateArmed;
    struct Unhook {
        ~Unhook() {
            plat::setSleepHook(nullptr);
            g_fadeGate = kGateOpen;
        }
    } unhook;
    plat::setSleepHook(&holdTheFadeForThePc);
    std::atomic<int> done{0};
    std::atomic<bool> stop{false};
    std::atomic<int> lost{-1};
    bool madeDuringTheFade = false;
    std::thread client([&] {
        RawClient second(networkManage::p_networkManage->port());
        for (int i = 0; i < kWrites && !stop; ++i) {
            if (i == kDuringTheFade) {
                while (g_fadeGate != kGateHeld && !stop) std::this_thread::yield();
                madeDuringTheFade = g_fadeGate == kGateHeld;
            }
            const uint16_t value = uint16_t(i % 2 ? 30 + i % 50 : 80 - i % 40);
            if (write(second, kContrast, value) != kStatusOk || apply(second) != kStatusOk) {
                lost = i;
                break;
            }
            // the next tick's pass begins after this answer and has ended once the tick after
            // it has begun: passes, not seconds (a fade's frames last as long as the load makes them)
            const uint32_t answeredAt = G_timeTicks;
            if (i == kDuringTheFade) g_fadeGate = kGateOpen;
            auto shown = [&] { return c331->regValue(c331::kRegContrast0) == value * 1023u / 100; };
            while (!shown() && !stop && int32_t(G_timeTicks - answeredAt) < 2)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (!shown()) {
                lost = i;
                break;
            }
            done = i + 1;
        }
        stop = true;
        g_fadeGate = kGateOpen;  // a fade held for a client that is gone goes on
    });
    bool faded = false;
    int fadeAsked = -1;
    for (int t = 0; !stop; ++t) {
        tick();
        if (t % 7 == 0) testkit::touchWidget(t % 14 ? sharper : softer);
        if (t % 40 == 20) toggleHdmi2();
        // a second PC switches window 0 to HDMI2 where the fade's tick has no touch after it:
        // only the PC's own hand-over can bring its change made during the fade to the chip
        if (!faded && done >= kDuringTheFade && t % 7 == 1) {
            if (!hdmi2On) toggleHdmi2();
            faded = write(*pc, windowField(0, kWinSource), kHdmi2) == kStatusOk && apply(*pc) == kStatusOk;
            fadeAsked = t;
        }
        if (faded && g_fadeGate == kGateArmed && t - fadeAsked > 50) {
            ADD_FAILURE() << "the source switch brought no fade";
            stop = true;
        }
        if (HasFatalFailure()) stop = true;
    }
    client.join();
    EXPECT_EQ(lost.load(), -1) << "write " << lost.load() << " did not reach the chip with the pass after its apply";
    EXPECT_EQ(done.load(), kWrites);
    EXPECT_TRUE(faded);
    EXPECT_TRUE(madeDuringTheFade) << "write " << kDuringTheFade << " made during the fade";
    EXPECT_EQ(c331->guestErrors(), 0u);
    g_page_focus = 0;
}

// The FPGA engine repeats a panel brightness for a while and shows its level in RAM 0x880; a PC's
// newer percentage written meanwhile and applied later is not overwritten, nor one the scaler's
// pass has applied (its base and the engine's request) and the engine not sent yet.
TEST_F(ApplyPathTest, BrightnessRepeatLeavesAPendingOrAnUnsentAppliedPercentage) {
    ASSERT_EQ(write(*pc, kBrightness, 20), kStatusOk);
    ASSERT_EQ(apply(*pc), kStatusOk);
    const int twenty = 20 * 255 / 100, sixty = 60 * 255 / 100;
    ASSERT_TRUE(tickUntil([&] { return fpga[0]->appliedBrightness() == twenty && fpga[1]->appliedBrightness() == twenty; }));
    ASSERT_EQ(write(*pc, kBrightness, 60), kStatusOk);
    // the engine's next repeat, ten seconds on: it sends its level again
    fpga[0]->setReg(FPGA_REG_BRIGHTNESS, 0);
    G_timeTicks = std::max(G_timeTicks.load(), g_change.bri_task_time) + 1001;
    ASSERT_TRUE(tickUntil([&] { return fpga[0]->reg(FPGA_REG_BRIGHTNESS) == twenty; }));
    tick(5);
    EXPECT_EQ(store->ramU16(kBrightness), 60) << "the pending percentage stays";
    ASSERT_EQ(apply(*pc), kStatusOk);
    ASSERT_TRUE(tickUntil([&] { return fpga[0]->appliedBrightness() == sixty && fpga[1]->appliedBrightness() == sixty; }))
        << fpga[0]->appliedBrightness() << " " << fpga[1]->appliedBrightness();

    const int eighty = 80 * 255 / 100;
    ASSERT_EQ(write(*pc, kBrightness, 80), kStatusOk);
    ASSERT_EQ(apply(*pc), kStatusOk);
    // the scaler's passes alone, the engine standing: the request is raised, nothing sent
    for (int k = 0; k < 300 && !engine_requests::fpgaBrightness; ++k) {
        G_timeTicks.fetch_add(1);
        plat::sim::board().step(10 * plat::sim::kNsPerMs);
        scaler->step();
    }
    ASSERT_EQ(engine_requests::fpgaBrightness.load(), 1);
    // the engine's repeat of the level it sent, due before it takes the request
    G_timeTicks = std::max(G_timeTicks.load(), g_change.bri_task_time) + 1001;
    engine->Brightness_task();
    EXPECT_EQ(store->ramU16(kBrightness), 80) << "the applied percentage stays";
    EXPECT_TRUE(tickUntil([&] { return fpga[0]->appliedBrightness() == eighty && fpga[1]->appliedBrightness() == eighty; }))
        << fpga[0]->appliedBrightness() << " " << fpga[1]->appliedBrightness();
}
