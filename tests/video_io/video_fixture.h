#pragma once
// Input-chip world: the standard simulated board, the parameter store, and the
// input-source manager without its thread; tests run its passes and step the board clock.
#include <QObject>

#include <thread>
#include <vector>

#include "core/config_engine.h"
#include "core/global.h"
#include "core/manage_lock.h"
#include "core/vlxrampara.h"
#include "platform/board_wiring.h"
#include "platform/sim/board_control.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/standard_board.h"
#include "platform/sim/video_chips.h"
#include "support/testkit.h"
#include "video_io/kavelsource.h"

namespace videotest {

using plat::sim::board;
using plat::sim::kNsPerMs;

class VideoTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        testkit::SimBoardTest::SetUp();
        plat::sim::buildStandardBoard(board());
        plat::sim::registerChipCommands();
        ConfigEngine::pInstance();
        ram = VlxRamPara::pInstance();
        QObject::connect(ram, &VlxRamPara::sig_update_para, [this](int code) { codes.push_back(code); });
        // EEPROMs as the factory left them: each holding the EDID its input offers.
        for (int s = 0; s < kavelsource::kSources; ++s) eeprom(s)->setContents(defaultEdid(edidKindOfSource(s)));
        src = kavelsource::pInstance();
        ASSERT_TRUE(src->prepare());
    }
    void TearDown() override {
        kavelsource::resetInstanceForTest();
        VlxRamPara::resetInstanceForTest();
        ConfigEngine::resetInstanceForTest();
        testkit::SimBoardTest::TearDown();
    }
    // n passes of the input-source thread, `ms` of board time before each.
    void passes(int n, int ms = 10) {
        for (int i = 0; i < n; ++i) {
            board().step(uint64_t(ms) * kNsPerMs);
            src->source_deal();
        }
    }
    std::string command(const std::string& line) { return plat::sim::runBoardCommand(line); }
    // HDMI1's EDID words set to a timing and its write requested, as the dispatcher does: on a
    // thread of its own holding the manage lock, as a link's, which a chip's bus does not hold up.
    void requestHdmi1Edid(int width, int height, int rate) {
        std::thread([&] {
            ManageMutexLocker lock;
            ram->setRamU16(vlxram::kEdidPara + 12, uint16_t(width));
            ram->setRamU16(vlxram::kEdidPara + 14, uint16_t(height));
            ram->setRamU16(vlxram::kEdidPara + 16, uint16_t(rate));
        }).join();
        src->edid_write_flag[2] = 0;
        src->set_edid_flag[2] = 1;
    }
    std::shared_ptr<plat::sim::EdidEepromModel> eeprom(int s) {
        return board().find<plat::sim::EdidEepromModel>(plat::wiring::kVideoInputs[s].edid);
    }
    // RAM 0x100 + 6s: width, height, rate.
    std::vector<int> ramTiming(int s) {
        const unsigned at = vlxram::kInputTiming + vlxram::kInputTimingSize * unsigned(s);
        return {ram->ramU16(at), ram->ramU16(at + 2), ram->ramByte(at + 4), ram->ramByte(at + 5)};
    }
    HDMI_INFO record(int s) {
        plat::Locker<plat::QtMutex> l(Utils::_source_hdminfo_mutex);
        return src->hdminfo[s];
    }
    unsigned misuses() {
        unsigned n = 0;
        for (const std::string& name : board().chipNames()) n += board().findChip(name)->misuseCount();
        return n;
    }
    uint8_t status(unsigned byte) { return ram->registersForTest()[vlxram::kStatusArea + byte]; }

    VlxRamPara* ram = nullptr;
    kavelsource* src = nullptr;
    std::vector<int> codes;
};

}  // namespace videotest
