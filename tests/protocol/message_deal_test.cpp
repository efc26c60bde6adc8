// The command handler against a double of the engines and the real parameter store.
#include <QSettings>

#include "protocol_fixture.h"
#include "support/ram_copies.h"

using namespace prototest;
using namespace ctl;

TEST_F(ProtocolTest, RamWriteBeyondEndIsRefusedAndChangesNothing) {
    const std::vector<uint8_t> before = testkit::ramBytes(store, 0xFF8, 8);
    Reply r = deal(handler, memWrite(0xFF8, std::vector<uint8_t>(16, 0x77)));
    EXPECT_EQ(r.status, kStatusRefused);
    EXPECT_EQ(testkit::ramBytes(store, 0xFF8, 8), before);
    EXPECT_EQ(deal(handler, memWrite(0xFF8, std::vector<uint8_t>(8, 0x77))).status, kStatusOk);
    EXPECT_EQ(store->ramByte(0xFFF), 0x77);
    // Spaces that do not exist and a parameter address past the user modes.
    EXPECT_EQ(deal(handler, memWrite(0x11000, {1})).status, kStatusRefused);
    EXPECT_EQ(deal(handler, memWrite(0x70000000, {1})).status, kStatusRefused);
}

TEST_F(ProtocolTest, BrightnessWriteThenRegister11RaisesTheScalerUpdate) {
    EXPECT_EQ(deal(handler, memWrite(vlxram::kBrightness, {40, 0})).status, kStatusOk);
    EXPECT_EQ(store->ramU16(vlxram::kBrightness), 40);
    EXPECT_EQ(c331_manage::update_flag, 0) << "a RAM write alone only stores the bytes";
    EXPECT_EQ(deal(handler, regWrite(kRegUpdate, 0xFF, 0x02)).status, kStatusOk);
    EXPECT_EQ(c331_manage::update_flag, 1);
    EXPECT_EQ(deal(handler, regWrite(kRegUpdate, 0xFF, 0x04)).status, kStatusOk);
    EXPECT_EQ(c331_manage::update_flag, 2);
    EXPECT_EQ(store->registersForTest()[kRegUpdate], 0x04) << "the register file keeps the written byte";
}

TEST_F(ProtocolTest, MenuReloadBitActsOnlyWhenTheMenuIsEnabled) {
    deal(handler, regWrite(kRegUpdate, 0xFF, 0x08));
    EXPECT_EQ(c331_manage::update_flag, 0);
    EXPECT_EQ(g_osd_update, 0);
    store->setRamU16(vlxram::kOsdEnable, 1);
    deal(handler, regWrite(kRegUpdate, 0xFF, 0x08));
    EXPECT_EQ(c331_manage::update_flag, 1);
    EXPECT_EQ(g_osd_update, 1);
}

TEST_F(ProtocolTest, ServiceRegistersReachTheScalerRequestBytes) {
    deal(handler, regWrite(kRegDebugA2, 0x0F, 0xFF));
    deal(handler, regWrite(kRegDebugA3, 0xFF, 0x07));
    deal(handler, regWrite(kRegDebugA4, 0xF0, 0x3C));
    deal(handler, regWrite(kRegDebugA5, 0xFF, 0x12));
    EXPECT_EQ(store->registersForTest()[34], 0x0F);
    EXPECT_EQ(store->registersForTest()[35], 0x08);
    EXPECT_EQ(store->registersForTest()[36], 0x30);
    EXPECT_EQ(store->registersForTest()[33], 0x12);
    EXPECT_EQ(c331_manage::update_flag, 1);
    EXPECT_EQ(store->registersForTest()[0xA2], 0) << "the special registers do not land at their own number";
}

TEST_F(ProtocolTest, ControllerRegisterReadCoversTheStatusAreaAndStopsAtItsEnd) {
    store->registersForTest()[vlxram::kStatusArea + 1023] = 0x5C;
    Reply r = deal(handler, frame(kGroupReadRegisters, cat(le16(37 + 1022), le16(2))));
    ASSERT_EQ(r.status, kStatusOk);
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0, 0x5C}));
    EXPECT_EQ(deal(handler, frame(kGroupReadRegisters, cat(le16(1060), le16(2)))).status, kStatusRefused);
    EXPECT_EQ(deal(handler, regWrite(170, 0xFF, 1)).status, kStatusRefused);
}

TEST_F(ProtocolTest, RegisterWriteWithOneBadEntryChangesNoRegister) {
    useFake();
    const std::vector<uint8_t> entries = cat(cat(le16(21), {0xFF, 0x5A}), cat(le16(170), {0xFF, 1}));
    EXPECT_EQ(deal(handler, frame(kGroupWriteRegisters, entries)).status, kStatusRefused);
    EXPECT_EQ(store->registersForTest()[21], 0) << "the controller's register 21 kept";
    EXPECT_EQ(deal(handler, frame(kGroupWriteRegisters, entries, kAddrSendingCard)).status, kStatusRefused);
    EXPECT_TRUE(fake.regWrites.empty()) << "no FPGA register written";
}

TEST_F(ProtocolTest, FpgaRegisterWritesGoToTheFpgaNamedByBytePort) {
    useFake();
    EXPECT_EQ(deal(handler, regWrite(3, 0x20, 0x20, kAddrSendingCard, 1)).status, kStatusOk);
    EXPECT_EQ(deal(handler, regWrite(6, 0xFF, 0x80, kAddrSendingCard, 2)).status, kStatusOk);
    EXPECT_EQ(deal(handler, regWrite(0, 0x04, 0x04, kAddrSendingCard, 0)).status, kStatusOk);
    ASSERT_EQ(fake.regWrites.size(), 4u);
    EXPECT_EQ(fake.regWrites[0].fpga, 0);
    EXPECT_EQ(fake.regWrites[0].reg, 3u);
    EXPECT_EQ(fake.regWrites[1].fpga, 1);
    EXPECT_EQ(fake.regWrites[1].value, 0x80);
    EXPECT_EQ(fake.regWrites[2].fpga, 0);
    EXPECT_EQ(fake.regWrites[3].fpga, 1);
    EXPECT_EQ(store->registersForTest()[3], 0) << "the controller's own registers are untouched";
    Reply r = deal(handler, frame(kGroupReadRegisters, cat(le16(6), le16(1)), kAddrSendingCard, 2));
    ASSERT_EQ(r.status, kStatusOk);
    EXPECT_EQ(r.data, std::vector<uint8_t>{0x80});
}

TEST_F(ProtocolTest, MissingEnginesAnswerNotAvailableNeverSuccess) {
    // The default engines: no FPGA engine, no C331 manager.
    EXPECT_EQ(deal(handler, regWrite(3, 0xFF, 1, kAddrSendingCard, 1)).status, kStatusUnavailable);
    EXPECT_EQ(deal(handler, frame(kGroupReadRegisters, cat(le16(0), le16(1)), kAddrSendingCard)).status,
              kStatusUnavailable);
    EXPECT_EQ(deal(handler, memRead(0x30210000, 4)).status, kStatusUnavailable);
    EXPECT_EQ(deal(handler, frame(kGroupFlashErase, {0, 0, 0, 0, 1, 0, 0})).status, kStatusUnavailable);
    EXPECT_EQ(deal(handler, frame(kGroupFlashRead, {0, 0, 0, 0, 4, 0})).status, kStatusUnavailable);
    EXPECT_EQ(deal(handler, frame(kGroupParamSave, {})).status, kStatusUnavailable);
    EXPECT_EQ(deal(handler, frame(kGroupUpdateStart, {})).status, kStatusUnavailable);
    EXPECT_EQ(deal(handler, frame(kGroupOutputGeometry, {})).status, kStatusUnavailable);
    EXPECT_EQ(deal(handler, regWrite(kRegFont, 0xFF, 0x08)).status, kStatusUnavailable);
    EXPECT_EQ(deal(handler, regWrite(kRegPrint, 0xFF, 0x02)).status, kStatusUnavailable);
}

TEST_F(ProtocolTest, UserModeWriteLandsInItsSlotAndReadsBack) {
    EXPECT_EQ(deal(handler, memWrite(0x10000, {0xAA, 0xAA, 9})).status, kStatusOk);
    EXPECT_EQ(testkit::slotBytes(store, 15)[2], 9);
    Reply r = deal(handler, memRead(0x10000, 3));
    EXPECT_EQ(r.data, (std::vector<uint8_t>{0xAA, 0xAA, 9}));
    EXPECT_EQ(deal(handler, memWrite(0x1FFF, {1, 2, 3, 4})).status, kStatusRefused);
    EXPECT_EQ(deal(handler, memRead(0x1FFF, 4)).status, kStatusRefused) << "a read stays inside one mode";
    // The slot's last two bytes lie past 0xFFF: what a write reaches, a read reaches.
    EXPECT_EQ(deal(handler, memWrite(0x1FFE, {1, 2, 3, 4})).status, kStatusOk);
    EXPECT_EQ(deal(handler, memRead(0x1FFE, 4)).data, (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST_F(ProtocolTest, ExtendedStatusReadCarriesClockAndCardCount) {
    useFake();
    fake.cards = 0x1234;
    Reply r = deal(handler, memRead(0xA0000000, 0x80));
    ASSERT_EQ(r.status, kStatusOk);
    ASSERT_EQ(r.data.size(), 0x80u);
    EXPECT_EQ(r.data[0x7C], 0x34);
    EXPECT_EQ(r.data[0x7D], 0x12);
    const time_t now = time(nullptr);
    struct tm t {};
    localtime_r(&now, &t);
    EXPECT_EQ(r.data[17], 0x20) << "century in BCD";
    EXPECT_EQ(r.data[18], uint8_t(((t.tm_mon + 1) / 10) << 4 | ((t.tm_mon + 1) % 10)));
    // A read of the count alone still reports it.
    Reply high = deal(handler, memRead(0xA000007D, 1));
    EXPECT_EQ(high.data, std::vector<uint8_t>{0x12});
    EXPECT_EQ(deal(handler, memRead(0xA00003FF, 2)).status, kStatusRefused);
}

TEST_F(ProtocolTest, MailboxWriteIsReadBackAndBoundedToItsSize) {
    useFake();
    EXPECT_EQ(deal(handler, memWrite(0x50000000, {0xAA, 1, 0})).status, kStatusOk);
    EXPECT_EQ(fake.mailboxRam()[0], 0xAA);
    EXPECT_EQ(deal(handler, memRead(0x50000000, 2)).data, (std::vector<uint8_t>{0xAA, 1}));
    EXPECT_EQ(deal(handler, memWrite(0x500003FF, {1, 2})).status, kStatusRefused);
    EXPECT_EQ(fake.mailboxRam()[0x3FF], 0);
}

TEST_F(ProtocolTest, FpgaRamAccessReachesOnlyThePcRams) {
    useFake();
    EXPECT_EQ(deal(handler, memWrite(0x30210010, {5, 6})).status, kStatusOk);   // RAM 33, both FPGAs
    EXPECT_EQ(fake.rams[0][33][0x10], 5);
    EXPECT_EQ(fake.rams[1][33][0x11], 6);
    EXPECT_EQ(deal(handler, memWrite(0x30010000, {1})).status, kStatusRefused);  // RAM 1: parameters
    EXPECT_EQ(deal(handler, memWrite(0x30210FFF, {1, 2})).status, kStatusRefused);  // past the RAM
    EXPECT_EQ(deal(handler, memWrite(0x31210000, {1})).status, kStatusRefused);  // stray bits
    fake.rams[1][5][0] = 0x42;
    EXPECT_EQ(deal(handler, memRead(0x30050000, 1, 2)).data, std::vector<uint8_t>{0x42});
}

TEST_F(ProtocolTest, LengthFieldThatDisagreesWithTheFrameHasNoEffect) {
    std::vector<uint8_t> f = memWrite(0x880, {9, 0});
    f[kLen] += 1;
    f.back() ^= 1;  // BCC still right for the changed byte
    Reply r = deal(handler, f);
    EXPECT_EQ(r.status, kStatusBadRequest);
    EXPECT_NE(store->ramByte(0x880), 9);
    // The inner length of a memory write must match too.
    std::vector<uint8_t> p(8);
    ctl::wr32(p.data(), 0x880);
    ctl::wr16(p.data() + 4, 40);
    EXPECT_EQ(deal(handler, frame(kGroupWriteMemory, cat(p, {9, 0}))).status, kStatusBadRequest);
    EXPECT_NE(store->ramByte(0x880), 9);
    EXPECT_FALSE(deal(handler, std::vector<uint8_t>(10, 0)).present) << "no header, no reply";
}

TEST_F(ProtocolTest, UnknownGroupIsAnsweredAndChangesNothing) {
    const std::vector<uint8_t> before = testkit::ramBytes(store);
    EXPECT_EQ(deal(handler, frame(0x33, {1, 2, 3})).status, kStatusUnknownGroup);
    EXPECT_EQ(testkit::ramBytes(store), before);
}

TEST_F(ProtocolTest, FlashEraseOfMisalignedUnitsIsRefused) {
    useFake();
    EXPECT_EQ(deal(handler, frame(kGroupFlashErase, {4, 0, 0, 0, 1, 0, 1})).status, kStatusRefused);
    EXPECT_EQ(deal(handler, frame(kGroupFlashErase, {8, 0, 0, 0, 1, 0, 2})).status, kStatusRefused);
    EXPECT_EQ(fake.flashErases, 0);
    EXPECT_EQ(deal(handler, frame(kGroupFlashErase, {16, 0, 0, 0, 1, 0, 2})).status, kStatusOk);
    EXPECT_EQ(fake.flashErases, 1);
}

TEST_F(ProtocolTest, ClockSetRunsDateAndHwclockAndTellsTheRecorder) {
    useFake();
    simShell().clearCommands();
    EXPECT_EQ(deal(handler, frame(kGroupSetClock, {0x26, 0x20, 0x03, 0x05, 0x09, 0x07, 0x00})).status, kStatusOk);
    EXPECT_EQ(commands(), (std::vector<std::string>{"date \"2026-3-5 9:7:0\"", "hwclock -wu"}));
    EXPECT_EQ(fake.clockChanges, 1);
}

TEST_F(ProtocolTest, ClockSetWithNonBcdOrImpossibleDatesRunsNothing) {
    useFake();
    simShell().clearCommands();
    EXPECT_EQ(deal(handler, frame(kGroupSetClock, {0x2A, 0x20, 0x03, 0x05, 0x09, 0x07, 0x00})).status, kStatusRefused);
    EXPECT_EQ(deal(handler, frame(kGroupSetClock, {0x26, 0x20, 0x13, 0x05, 0x09, 0x07, 0x00})).status, kStatusRefused);
    EXPECT_EQ(deal(handler, frame(kGroupSetClock, {0x26, 0x20, 0x03})).status, kStatusBadRequest);
    // Days the month lacks, and years a 32-bit time_t cannot hold.
    for (const std::vector<uint8_t>& day : {std::vector<uint8_t>{0x26, 0x20, 0x02, 0x29}, {0x26, 0x20, 0x04, 0x31},
                                            {0x26, 0x20, 0x02, 0x30}, {0x00, 0x21, 0x02, 0x29},
                                            {0x38, 0x20, 0x01, 0x01}, {0x69, 0x19, 0x12, 0x31}})
        EXPECT_EQ(deal(handler, frame(kGroupSetClock, cat(day, {0x12, 0x00, 0x00}))).status, kStatusRefused)
            << int(day[1]) << int(day[0]) << "-" << int(day[2]) << "-" << int(day[3]);
    EXPECT_TRUE(commands().empty());
    EXPECT_EQ(deal(handler, frame(kGroupSetClock, {0x24, 0x20, 0x02, 0x29, 0x12, 0x00, 0x00})).status, kStatusOk);
    EXPECT_EQ(deal(handler, frame(kGroupSetClock, {0x37, 0x20, 0x12, 0x31, 0x23, 0x59, 0x59})).status, kStatusOk);
    EXPECT_EQ(commands(), (std::vector<std::string>{"date \"2024-2-29 12:0:0\"", "hwclock -wu",
                                                    "date \"2037-12-31 23:59:59\"", "hwclock -wu"}));
}

TEST_F(ProtocolTest, DeviceInfoReportsTheDeviceId) {
    std::memcpy(g_pid, "0123456789abcdef0123456789abcdef", 32);
    Reply r = deal(handler, frame(kGroupDeviceInfo, {}));
    ASSERT_EQ(r.status, kStatusOk);
    EXPECT_EQ(std::string(r.data.begin(), r.data.end()), "0123456789abcdef0123456789abcdef");
}

TEST_F(ProtocolTest, RestartRequestSchedulesTheReboot) {
    G_timeTicks = 500;
    EXPECT_EQ(deal(handler, frame(kGroupRestart, {})).status, kStatusOk);
    EXPECT_EQ(g_app_reset_flag, 1);
    EXPECT_EQ(G_reboot_tickTicks, 500u);
}

TEST_F(ProtocolTest, NetworkSettingsAreStoredAppliedAndAPortChangeReboots) {
    simShell().clearCommands();
    G_timeTicks = 900;
    G_reboot_tickTicks = 7;
    const std::vector<uint8_t> p = {192, 168, 1, 77, 255, 255, 255, 0, 192, 168, 1, 1, 0x8E, 0x13};  // port 5006
    EXPECT_EQ(deal(handler, frame(kGroupNetwork, p)).status, kStatusOk);
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress).toString(), "192.168.1.77");
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::TcpPort).toInt(), 5006);
    const auto cmds = commands();
    EXPECT_NE(std::find(cmds.begin(), cmds.end(), "ifconfig eth0 192.168.1.77 netmask 255.255.255.0"), cmds.end());
    EXPECT_EQ(g_app_reset_flag, 1);
    EXPECT_EQ(G_reboot_tickTicks, 900u) << "the reboot waits its ticks: the answer leaves first";
}

TEST_F(ProtocolTest, NetworkSettingsWithAZeroAddressAreRefused) {
    const std::vector<uint8_t> p = {0, 0, 0, 0, 255, 255, 255, 0, 192, 168, 1, 1, 0, 0};
    const QString before = ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress).toString();
    EXPECT_EQ(deal(handler, frame(kGroupNetwork, p)).status, kStatusRefused);
    EXPECT_EQ(ConfigEngine::p_config->read_config_variant(ConfigItem::IPAddress).toString(), before);
    EXPECT_EQ(g_app_reset_flag, 0);
}

TEST_F(ProtocolTest, UpdateStartSetsBothFpgasAndLoadsTheBlock) {
    useFake();
    EXPECT_EQ(deal(handler, frame(kGroupUpdateStart, {1, 2, 3})).status, kStatusOk);
    ASSERT_EQ(fake.regWrites.size(), 2u);
    EXPECT_EQ(fake.regWrites[0].reg, 23u);
    EXPECT_EQ(fake.regWrites[0].mask, 0x40);
    EXPECT_EQ(fake.regWrites[1].fpga, 1);
    ASSERT_EQ(fake.ramWrites.size(), 1u);
    EXPECT_EQ(fake.ramWrites[0].reg, 10u);
    EXPECT_EQ(fake.rams[0][10][2], 3);
    EXPECT_EQ(deal(handler, frame(kGroupUpdateStart, std::vector<uint8_t>(257, 0))).status, kStatusBadRequest);
}

TEST_F(ProtocolTest, ZeroLengthReadsAreAnsweredWithoutData) {
    // Found by the fuzzer: an empty read copied from a null buffer.
    for (uint32_t address : {0x0u, 0x1000u, 0x50000000u, 0xA0000000u}) {
        Reply r = deal(handler, memRead(address, 0));
        EXPECT_EQ(r.status, kStatusOk) << std::hex << address;
        EXPECT_TRUE(r.data.empty());
    }
    EXPECT_EQ(deal(handler, frame(kGroupReadRegisters, cat(le16(0), le16(0)))).status, kStatusOk);
}
