// The register list, the service dumps and the debug operations of the service registers.
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "c331_osd_fixture.h"
#include "scaler/c331_reglist.h"

using scalertest::OsdTest;
using namespace c331reglist;

TEST_F(OsdTest, RegisterListHasTheChipsRowsBanksSizesAndEndsWithoutOverlap) {
    const auto& rows = c331RegisterList();
    ASSERT_EQ(int(rows.size()), kRows);
    std::set<int> banks;
    int bySize[5] = {};
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& r = rows[i];
        banks.insert(r.bank);
        ASSERT_TRUE(r.count >= 1 && r.count <= 4);
        ++bySize[r.count];
        EXPECT_GE(r.addr, 1) << i;
        EXPECT_LE(r.addr + r.count, 0x80) << i;
        if (i) {
            const auto& p = rows[i - 1];
            EXPECT_LT(p.desc(), r.desc()) << "sorted by bank and address, row " << i;
            if (p.bank == r.bank) {
                EXPECT_LE(p.addr + p.count, r.addr) << "overlap at row " << i;
            }
        }
    }
    EXPECT_EQ(int(banks.size()), kBanks);
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(bySize[n], kRowsBySize[n]) << n;
    EXPECT_EQ(rows[0].desc(), 0x000801u);
    EXPECT_EQ(rows[1].desc(), 0x000901u);
    EXPECT_EQ(rows[2].desc(), 0x000A01u);
    EXPECT_EQ(rows[rows.size() - 2].desc(), 0xFF0401u);
    EXPECT_EQ(rows.back().desc(), 0xFF0503u);
    // every register the code names is listed where it fits
    std::set<uint32_t> listed;
    for (const auto& r : rows) listed.insert(r.desc());
    unsigned missing = 0;
    for (uint32_t d : c331NamedRegisters())
        if ((d >> 8 & 0xFF) != 0 && !listed.count(d)) ++missing;
    EXPECT_LE(missing, c331NamedRegisters().size() / 50) << "named registers left out";
    for (uint32_t d : {0xB20801u, 0x045301u, 0x044E04u, 0x090802u, 0x091A04u, 0x160804u, 0x501702u})
        EXPECT_TRUE(listed.count(d)) << std::hex << d;
}

TEST_F(OsdTest, RegisterPrintReadsEveryRowOnceAsTheWireCarriesIt) {
    startRunning();
    chip->clearCounters();
    printed.clear();
    ASSERT_EQ(m->c331_print(), 0);
    const std::string out = console();
    std::istringstream in(out);
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) ++lines;
    EXPECT_EQ(lines, kRows);
    EXPECT_EQ(chip->counters().reads, 11444u) << "one frame per register byte";
    char first[32];
    std::snprintf(first, sizeof first, "000801  %08Xh\n", regOf(0x000801));
    EXPECT_EQ(out.substr(0, 18), first) << "descriptor and the register's value";
}

TEST_F(OsdTest, ParameterDumpGroupsWrapAtFourteenAndPokeOnlyTheirRegisters) {
    startRunning();
    m->vlxDbg_c331_param(14);
    EXPECT_NE(console().find("[vlxDbg_c331_param] c331_param"), std::string::npos);
    EXPECT_NE(console().find("\t PM_OSD_EN  :0 \r\n"), std::string::npos);
    EXPECT_NE(console().find("<<===PI HDMI INFO"), std::string::npos);
    m->vlxDbg_c331_param(20);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(regOf(0x084903, k), 0xFFFFFFu);
        EXPECT_EQ(regOf(0x084801, k), 1u);
    }
    printed.clear();
    chip->clearCounters();
    m->vlxDbg_c331_param(25);
    EXPECT_EQ(console(), "[vlxDbg_c331_param] none\n");
    EXPECT_EQ(chip->counters().frames, 0u);
    m->vlxDbg_c331_print_regGrp(1);
    EXPECT_NE(console().find("\t not found valid grp!!!!!!!"), std::string::npos);
}

TEST_F(OsdTest, GroupTenRefreshesBothHdmi20ReceiversThroughTheirDriver) {
    startRunning();
    m->vlxDbg_c331_param(10);
    EXPECT_NE(console().find("dev_id:1, idx:5 no receiver"), std::string::npos);
    std::vector<int> asked;
    c331_manage::hdmiReceiverRefresh = [&](int dev) {
        asked.push_back(dev);
        return true;
    };
    m->vlxDbg_c331_param(10);
    c331_manage::hdmiReceiverRefresh = nullptr;
    EXPECT_EQ(asked, (std::vector<int>{0, 1}));
}

class DebugRequestTest : public OsdTest {
protected:
    void SetUp() override {
        OsdTest::SetUp();
        startRunning();
    }
    void request(unsigned reg, uint8_t v) {
        {
            ManageMutexLocker lock;
            ram->registersForTest()[reg] = v;
            c331_manage::update_flag = 1;
        }
        chip->setFrameLog(true);
        m->step();
        shadowFollows();
    }
    std::set<int> banksWritten() {
        std::set<int> b;
        for (const auto& f : chip->frames())
            if ((f.tx[0] & 0x80) && (f.tx[0] & 0x7F)) b.insert(f.bank);
        return b;
    }
};

TEST_F(DebugRequestTest, Register34LowestBitWinsAndIsClearedOutputBarsOnOch0To3Only) {
    request(34, 0x06);
    EXPECT_EQ(ram->registersForTest()[34], 0);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(regOf(0x085701, k), 9u) << k;
        EXPECT_EQ(regOf(0x086102, k), 0x560u);
    }
    EXPECT_EQ(regOf(0x086301, 1), 255u);
    EXPECT_EQ(regOf(0x086401, 1), 0u);
    EXPECT_EQ(regOf(0x085701, 4), 0u) << "not the input bars";
    EXPECT_EQ(regOf(0x085701, 5), 0u);
}

TEST_F(DebugRequestTest, Register34Bit6BringsTheChipUpAgainWithoutTouchingTheBars) {
    request(34, 0x40);
    EXPECT_EQ(m->state(), c331_manage::kStateChipId0);
    EXPECT_EQ(banksWritten().count(0x08), 0u);
    chip->clearCounters();
    for (int i = 0; i < 6; ++i) m->step();
    EXPECT_EQ(m->state(), c331_manage::kStateRunning);
    unsigned idReads = 0;
    for (const auto& f : chip->frames())
        if (f.bank == 0xB2 && f.tx[0] == 0x08) ++idReads;
    EXPECT_EQ(idReads, 5u);
}

TEST_F(DebugRequestTest, Register33RunsOnlyTheInputSyncTestAndBit7ReadsBackTheWrite) {
    request(33, 0x03);
    EXPECT_EQ(ram->registersForTest()[33], 0);
    EXPECT_EQ(regOf(0x004801), 0x89u);
    EXPECT_EQ(regOf(0x080F01), 0u);
    EXPECT_EQ(regOf(0x080C02, 3), unsigned(m->PS.totalH - 2)) << "the frame-lock test did not run";
    chip->setReg(0x50, 0x17, 0x34);
    chip->setReg(0x50, 0x18, 0x12);
    request(34, 0x80);
    EXPECT_EQ(regOf(0x501702), 0x1234u + 100);
    EXPECT_NE(console().find("write=0x1298,read=0x1298"), std::string::npos);
}

TEST_F(DebugRequestTest, Register35RunsItsDumpGroupAndRegister36TheChannelGroups) {
    request(35, 1);  // protocol value 0: the full dump
    EXPECT_EQ(ram->registersForTest()[35], 0);
    EXPECT_NE(console().find("<<===OSD_WIN"), std::string::npos);
    request(36, 1);
    EXPECT_NE(console().find("vlxDbg_c331_print_regGrp"), std::string::npos);
    EXPECT_NE(console().find("\t CH7  "), std::string::npos);
}
