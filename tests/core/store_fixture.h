#pragma once
// Parameter-store world: sim board with a private root, singletons dropped after each test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/config_engine.h"
#include "core/vlxrampara.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/sim/sim_board.h"
#include "platform/sim/sim_shell.h"
#include "scaler/c331_manage.h"
#include "support/testkit.h"

namespace storetest {

inline std::string bytes(const unsigned char* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

inline uint16_t fileU16(const std::string& file, unsigned ramAddress) {
    const size_t at = 2 + ramAddress - vlxram::kSavedStart;
    return uint16_t(uint8_t(file[at]) | (uint8_t(file[at + 1]) << 8));
}

class StoreTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        testkit::SimBoardTest::SetUp();
        c331_manage::update_flag = 0;
    }
    void TearDown() override {
        VlxRamPara::resetInstanceForTest();
        ConfigEngine::resetInstanceForTest();
        testkit::SimBoardTest::TearDown();
    }
    // Start-up steps 2 and 3.
    VlxRamPara* start() {
        ConfigEngine::pInstance();
        return VlxRamPara::pInstance();
    }
    // Power cycle: the singletons load again from the files under the root.
    VlxRamPara* restart() {
        VlxRamPara::resetInstanceForTest();
        ConfigEngine::resetInstanceForTest();
        return start();
    }
    plat::sim::SimShell& simShell() {
        plat::shell();
        plat::sim::SimShell* s = plat::sim::simShell();
        if (!s) ADD_FAILURE() << "simulated shell not in force";
        return *s;
    }
    std::vector<std::string> commands() { return simShell().commands(); }
    size_t logSize() { return testkit::readFile("/data/kavelkv/log/zufEnglneLog").size(); }
};

}  // namespace storetest
