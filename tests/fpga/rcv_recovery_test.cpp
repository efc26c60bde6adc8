// Receiving-card files: the reader walked the way the card jobs walk it, against files
// the generator writes from the byte layouts (its map says where everything landed),
// and the whole-file check against malformed files.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "fpga/rcv_recovery.h"
#include "fpga_fixture.h"
#include "platform/atomic_file.h"
#include "platform/platform.h"
#include "support/testkit.h"

namespace {

using rcvfile::kRecoveryDir;
const QString kKvfx = "/data/rcvrecovery/KVFX";

// Writes the file a JSON description gives at `absolute` (under the test root) with
// the generator, and returns the generator's map of the file.
QJsonObject generate(const std::string& absolute, const std::string& desc) {
    testkit::writeFile("/gen/desc.json", desc);
    plat::makeDirs(absolute.substr(0, absolute.rfind('/')));
    const std::string cmd = "python3 " + std::string(VLX_SOURCE_DIR) + "/scripts/gen_rcv_files.py " +
                            plat::path("/gen/desc.json") + " '" + plat::path(absolute) + "' --map " +
                            plat::path("/gen/map.json");
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return QJsonDocument::fromJson(QByteArray::fromStdString(testkit::readFile("/gen/map.json"))).object();
}

QJsonObject at(const QJsonValue& v, int i) { return v.toArray().at(i).toObject(); }
uint64_t num(const QJsonObject& o, const char* key) { return uint64_t(o.value(key).toDouble()); }

std::string hexOf(const std::vector<uint8_t>& b) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (uint8_t x : b) {
        s += d[x >> 4];
        s += d[x & 15];
    }
    return s;
}

// Two screens; screen 0 has a smart-debugging list and two nets whose cards have 2, 3,
// 1 and 0 operations, so card 2's block sits after blocks of different lengths.
const char* kTwoScreens = R"({"kind": "packed", "screens": [
  {"config_id": 305419896, "net_use": 3,
   "para_ops": [{"type": 1, "target": 2, "data": "a0a1a2"}, {"type": 2, "timeticks": 500}],
   "nets": [
     {"net_ledx": 2, "cards": [
        [{"type": 1, "target": 1, "addr": 4096, "fill": 2500, "seed": 1}, {"type": 3, "data": "b4b4"}],
        [{"type": 6, "timeticks": 1500}, {"type": 5, "data": "0102"}, {"type": 7, "data": "ff"}],
        [{"type": 16, "data": "60aabbcc", "timeticks": 800}],
        []]},
     {"net_ledx": 17, "cards": [[{"type": 4, "fill": 20}]]}]},
  {"config_id": 2864434397, "nets": [{"net_ledx": 31, "cards": [[{"type": 1, "target": 3, "fill": 4}]]}]}]})";

class RcvFileTest : public testkit::SimBoardTest {
protected:
    // Reads the packed head and the part table the way the job does.
    void readTable(const QString& path) {
        ASSERT_EQ(r.get_rcvPackedFileNum(path), 0);
        for (int k = 0; k < r.part_num() && k < rcvfile::kMaxParts; ++k) ASSERT_EQ(r.get_rcvPackedFileInfo(path, k), 0);
    }
    bool packedOk(const std::string& desc, std::string* why = nullptr) {
        generate("/data/rcvrecovery/KVFX", desc);
        return r.validate_packed(kKvfx, why);
    }
    bool standaloneOk(const std::string& desc, std::string* why = nullptr) {
        generate("/data/smartmapping/a.kvfile", desc);
        return r.validate_standalone("/data/smartmapping/a.kvfile", why);
    }

    rcvRecovery r;
};

// ---------------------------------------------------------------- reading

TEST_F(RcvFileTest, JobWalkFindsEveryRecordAndDataWhereTheLayoutPutsThem) {
    const QJsonObject map = generate("/data/rcvrecovery/KVFX", kTwoScreens);
    std::string why;
    ASSERT_TRUE(r.validate_packed(kKvfx, &why)) << why;
    readTable(kKvfx);
    const QJsonObject parts = map.value("parts").toObject();
    EXPECT_EQ(r.part_offset(10), num(parts, "10"));
    EXPECT_EQ(r.part_offset(11), num(parts, "11"));
    EXPECT_EQ(r.part_offset(12), num(parts, "12"));
    ASSERT_EQ(r.update_rcvScreenHead(kKvfx), 0);
    ASSERT_EQ(r.screen_head.screen_num, 2);

    std::vector<uint8_t> data;
    for (int s = 0; s < 2; ++s) {
        const QJsonObject ms = at(map.value("screens"), s);
        ASSERT_EQ(r.update_rcvScreenIDinfo(kKvfx, s), 0);
        EXPECT_EQ(r.screen_info.config_id, num(ms, "config_id"));
        EXPECT_EQ(r.xy_screen_position(), num(ms, "x"));
        ASSERT_EQ(r.update_rcvXYscreenNetnum(kKvfx), 0);
        const QJsonArray nets = ms.value("nets").toArray();
        ASSERT_EQ(r.net_num, nets.size());
        for (int n = 0; n < nets.size(); ++n) {
            const QJsonObject mn = nets.at(n).toObject();
            ASSERT_EQ(r.update_rcvXYscreenNetpara(kKvfx, n), 0);
            EXPECT_EQ(r.net_para.net_ledx, num(mn, "net_ledx"));
            EXPECT_EQ(r.net_area_position(), num(mn, "a"));
            const QJsonArray cards = mn.value("cards").toArray();
            ASSERT_EQ(r.net_para.net_rcv_num, cards.size());
            for (int c = 0; c < cards.size(); ++c) {
                const QJsonObject mc = cards.at(c).toObject();
                ASSERT_EQ(r.update_rcvXYrcvOperateTimes(kKvfx, c, false), 0);
                EXPECT_EQ(r.card_block_position, num(mc, "block_rel")) << "screen " << s << " net " << n << " card " << c;
                const QJsonArray ops = mc.value("ops").toArray();
                ASSERT_EQ(r.operate_times, ops.size());
                for (int i = 0; i < ops.size(); ++i) {
                    const QJsonObject mo = ops.at(i).toObject();
                    ASSERT_EQ(r.update_rcvXYrcvOperatepara(kKvfx, i, false), 0);
                    EXPECT_EQ(r.operate_para.dataLen, num(mo, "dataLen"));
                    EXPECT_EQ(r.xy_data_position(), num(mo, "data"));
                    data.assign(r.operate_para.dataLen, 0);
                    ASSERT_EQ(r.update_rcvOperatedata(kKvfx, r.xy_data_position(), data.data(), uint32_t(data.size())), 0);
                    EXPECT_EQ(hexOf(data), mo.value("hex").toString().toStdString());
                }
            }
        }
    }
    // Screen 0's own list, in the smart-debugging part.
    ASSERT_EQ(r.update_rcvScreenIDinfo(kKvfx, 0), 0);
    const QJsonObject ms = at(map.value("screens"), 0);
    ASSERT_EQ(r.update_smartDebugingOperateTimes(kKvfx, false), 0);
    EXPECT_EQ(r.smart_list_position(false), num(ms, "d"));
    ASSERT_EQ(r.operate_times, 2);
    ASSERT_EQ(r.update_smartDebugingOperatepara(kKvfx, 0, false), 0);
    EXPECT_EQ(r.operate_para.type, rcvfile::kTypeWrite);
    EXPECT_EQ(r.operate_para.target, rcvfile::kTargetRegister);
    EXPECT_EQ(r.smart_data_position(false), num(at(ms.value("para_ops"), 0), "data"));
    data.assign(3, 0);
    ASSERT_EQ(r.update_rcvOperatedata(kKvfx, r.smart_data_position(false), data.data(), 3), 0);
    EXPECT_EQ(hexOf(data), "a0a1a2");
    ASSERT_EQ(r.update_smartDebugingOperatepara(kKvfx, 1, false), 0);
    EXPECT_EQ(r.operate_para.type, rcvfile::kTypeRam2Flash);
    EXPECT_EQ(r.operate_para.timeticks, 500u);
}

TEST_F(RcvFileTest, CardTwoListStartsAfterTheBlocksOfCardsZeroAndOne) {
    generate("/data/rcvrecovery/KVFX", kTwoScreens);
    readTable(kKvfx);
    ASSERT_EQ(r.update_rcvScreenHead(kKvfx), 0);
    ASSERT_EQ(r.update_rcvScreenIDinfo(kKvfx, 0), 0);
    ASSERT_EQ(r.update_rcvXYscreenNetnum(kKvfx), 0);
    ASSERT_EQ(r.update_rcvXYscreenNetpara(kKvfx, 0), 0);
    ASSERT_EQ(r.update_rcvXYrcvOperateTimes(kKvfx, 0, false), 0);
    EXPECT_EQ(r.card_block_position, 0u);   // card 0's list at A + 4
    EXPECT_EQ(r.operate_times, 2);
    ASSERT_EQ(r.update_rcvXYrcvOperateTimes(kKvfx, 2, false), 0);
    EXPECT_EQ(r.card_block_position, (4u + 18 * 2) + (4u + 18 * 3));
    EXPECT_EQ(r.operate_times, 1);
    ASSERT_EQ(r.update_rcvXYrcvOperatepara(kKvfx, 0, false), 0);
    EXPECT_EQ(r.operate_para.type, rcvfile::kTypeUserDefined);
    EXPECT_EQ(r.operate_para.timeticks, 800u);
    // An empty list has no record 0 to run.
    ASSERT_EQ(r.update_rcvXYrcvOperateTimes(kKvfx, 3, false), 0);
    EXPECT_EQ(r.operate_times, 0);
    EXPECT_EQ(r.update_rcvXYrcvOperatepara(kKvfx, 0, false), 1);
    EXPECT_EQ(r.operate_para.type, rcvfile::kTypeUserDefined);
    // A card past the net's count is not walked into the next net's bytes.
    EXPECT_EQ(r.update_rcvXYrcvOperateTimes(kKvfx, 4, false), 1);
}

TEST_F(RcvFileTest, SecondTypeTenEntryIsTheOneThatCounts) {
    const QJsonObject map = generate("/data/rcvrecovery/KVFX", R"({"decoy": [10], "screens": [
        {"config_id": 7, "nets": []}]})");
    ASSERT_EQ(map.value("table").toArray().size(), 4);
    readTable(kKvfx);
    EXPECT_EQ(r.part_offset(10), num(map.value("parts").toObject(), "10"));
    ASSERT_EQ(r.update_rcvScreenHead(kKvfx), 0);
    ASSERT_EQ(r.update_rcvScreenIDinfo(kKvfx, 0), 0);
    EXPECT_EQ(r.screen_info.config_id, 7u);   // not the decoy's 0xDEC0DE10
}

TEST_F(RcvFileTest, ScreenIndexAtScreenCountIsRefusedWithoutReading) {
    generate("/data/rcvrecovery/KVFX", kTwoScreens);
    readTable(kKvfx);
    ASSERT_EQ(r.update_rcvScreenHead(kKvfx), 0);
    ASSERT_EQ(r.update_rcvScreenIDinfo(kKvfx, 1), 0);
    EXPECT_EQ(r.update_rcvScreenIDinfo(kKvfx, 2), 1);
    EXPECT_EQ(r.screen_info.config_id, 2864434397u);   // still screen 1
    r.screen_head.screen_num = 0;
    EXPECT_EQ(r.update_rcvScreenIDinfo(kKvfx, 0), 1);
    EXPECT_EQ(r.screen_info.config_id, 2864434397u);
}

// The generator names a description it cannot read or a file it cannot write, in one line.
TEST_F(RcvFileTest, GeneratorNamesTheFileItCannotReadOrWrite) {
    const std::string missing = plat::path("/gen/none.json"), folderless = plat::path("/none/out.bin");
    for (const auto& [args, says] : {std::pair{missing + " " + plat::path("/out.bin"), missing},
                                     std::pair{std::string("- ") + folderless, folderless}}) {
        const std::string cmd = "echo '{\"kind\": \"standalone\"}' | python3 " + std::string(VLX_SOURCE_DIR) +
                                "/scripts/gen_rcv_files.py " + args + " 2>&1";
        FILE* p = ::popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string out;
        char buf[512];
        while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        EXPECT_EQ(WEXITSTATUS(::pclose(p)), 1) << cmd;
        EXPECT_EQ(out, "gen_rcv_files.py: " + says + ": No such file or directory\n") << cmd;
    }
}

TEST_F(RcvFileTest, StandaloneOffsetZeroPointsAtPositionSixteen) {
    const QJsonObject map = generate("/data/smartmapping/a.kvfile", R"({"kind": "standalone",
        "head": "00112233445566778899aabbccddeeff",
        "ops": [{"type": 3, "data": "0a0b"}, {"type": 16, "data": "99", "offset": 0}]})");
    const QString path = "/data/smartmapping/a.kvfile";
    ASSERT_TRUE(r.validate_standalone(path));
    r.screen_info.rcv_para_offset = 1234;   // left from a recovery file
    r.init_para();
    ASSERT_EQ(r.update_smartDebugingOperateTimes(path, true), 0);
    ASSERT_EQ(r.operate_times, 2);
    ASSERT_EQ(r.update_smartDebugingOperatepara(path, 0, true), 0);
    EXPECT_EQ(r.smart_data_position(true), num(at(map.value("ops"), 0), "data"));
    ASSERT_EQ(r.update_smartDebugingOperatepara(path, 1, true), 0);
    EXPECT_EQ(r.smart_data_position(true), 16u);
    uint8_t b[2] = {};
    ASSERT_EQ(r.update_rcvOperatedata(path, r.smart_data_position(true), b, 1), 0);
    EXPECT_EQ(b[0], 0x02);   // the count's low byte: data of offset 0 starts at 16
    EXPECT_EQ(r.update_smartDebugingOperatepara(path, 2, true), 1);
}

TEST_F(RcvFileTest, ShortReadFailsAndKeepsTheHeldRecord) {
    const QJsonObject map = generate("/data/smartmapping/a.kvfile", R"({"kind": "standalone",
        "ops": [{"type": 5, "data": "0102", "timeticks": 300}, {"type": 7, "data": "03", "timeticks": 900}]})");
    const QString path = "/data/smartmapping/a.kvfile";
    ASSERT_EQ(r.update_smartDebugingOperateTimes(path, true), 0);
    ASSERT_EQ(r.update_smartDebugingOperatepara(path, 0, true), 0);
    ASSERT_EQ(r.operate_para.timeticks, 300u);
    // Cut inside record 1.
    const std::string whole = testkit::readFile("/data/smartmapping/a.kvfile");
    const uint64_t rec1 = num(at(map.value("ops"), 1), "record");
    testkit::writeFile("/data/smartmapping/a.kvfile", whole.substr(0, rec1 + 10));
    EXPECT_EQ(r.update_smartDebugingOperatepara(path, 1, true), 1);
    EXPECT_EQ(r.operate_para.timeticks, 300u);
    EXPECT_EQ(r.operate_para.type, rcvfile::kTypeReconfig);
    uint8_t b[4] = {1, 2, 3, 4};
    EXPECT_EQ(r.update_rcvOperatedata(path, rec1 + 8, b, 4), 1);
    EXPECT_EQ(b[0], 1);
    // A missing file and a relative path are failures, not reads of something else.
    EXPECT_EQ(r.get_rcvPackedFileNum("/data/rcvrecovery/none"), 1);
    EXPECT_EQ(r.update_smartDebugingOperateTimes("data/smartmapping/a.kvfile", true), 1);
}

TEST_F(RcvFileTest, ReadOnlyFileWithChineseNameIsRead) {
    const std::string name = "/mnt/usb1/\xE6\x99\xBA\xE8\x83\xBD\xE6\x98\xA0\xE5\xB0\x84.kvfile";
    generate(name, R"({"kind": "standalone", "ops": [{"type": 16, "data": "a0ff"}]})");
    ASSERT_EQ(::chmod(plat::path(name).c_str(), 0444), 0);
    const QString path = QString::fromUtf8(name.c_str());
    std::string why;
    ASSERT_TRUE(r.validate_standalone(path, &why)) << why;
    ASSERT_EQ(r.update_smartDebugingOperateTimes(path, true), 0);
    ASSERT_EQ(r.update_smartDebugingOperatepara(path, 0, true), 0);
    uint8_t b[2] = {};
    ASSERT_EQ(r.update_rcvOperatedata(path, r.smart_data_position(true), b, 2), 0);
    EXPECT_EQ(b[0], 0xA0);
    EXPECT_EQ(b[1], 0xFF);
    ASSERT_EQ(r.get_dir_file(rcvfile::kUsbDir), 0);
    EXPECT_EQ(r.smartmapping_file_list(), QStringList{QString::fromUtf8("\xE6\x99\xBA\xE8\x83\xBD\xE6\x98\xA0\xE5\xB0\x84.kvfile")});
}

TEST_F(RcvFileTest, FileReplacedAfterItsCheckIsNotPlayed) {
    generate("/data/rcvrecovery/KVFX", kTwoScreens);
    ASSERT_TRUE(r.validate_packed(kKvfx));
    readTable(kKvfx);
    // The file transfer swaps in another file while the job runs.
    const std::string other = testkit::readFile("/data/rcvrecovery/KVFX");
    ASSERT_TRUE(plat::replaceFileAtomically(plat::path("/data/rcvrecovery/KVFX"), other));
    EXPECT_EQ(r.update_rcvScreenHead(kKvfx), 1);
    EXPECT_EQ(r.screen_head.screen_num, 0);
    // The next job checks it again and reads it.
    ASSERT_TRUE(r.validate_packed(kKvfx));
    EXPECT_EQ(r.update_rcvScreenHead(kKvfx), 0);
    EXPECT_EQ(r.screen_head.screen_num, 2);
}

TEST_F(RcvFileTest, PipeOrFolderInPlaceOfTheFileIsRefusedWithoutWaiting) {
    plat::makeDirs(kRecoveryDir);
    ASSERT_EQ(::mkfifo(plat::path("/data/rcvrecovery/KVFX").c_str(), 0644), 0);
    std::string why;
    EXPECT_FALSE(r.validate_packed(kKvfx, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(r.get_rcvPackedFileNum(kKvfx), 1);
    plat::makeDirs("/data/smartmapping/d");
    EXPECT_FALSE(r.validate_standalone("/data/smartmapping/d"));
    EXPECT_EQ(r.update_smartDebugingOperateTimes("/data/smartmapping/d", true), 1);
}

// ---------------------------------------------------------------- folders and lists

TEST_F(RcvFileTest, UsbFolderReplacesTheSameListAsSmartMapping) {
    EXPECT_EQ(r.check_file_dir(rcvfile::kMappingDir), 1);   // created
    EXPECT_EQ(r.check_file_dir(rcvfile::kMappingDir), 0);   // was there
    testkit::writeFile("/data/smartmapping/a.kvfile", "x");
    testkit::writeFile("/data/smartmapping/.a.kvfile.tmpAbCdEf", "half a transfer");
    plat::makeDirs("/data/smartmapping/sub");
    testkit::writeFile("/mnt/usb1/b.kvfile", "y");
    testkit::writeFile("/mnt/usb1/c", "z");
    testkit::writeFile("/data/rcvrecovery/KVFX", "k");

    EXPECT_EQ(r.get_dir_file(rcvfile::kRecoveryDir), 0);
    EXPECT_EQ(r.get_dir_file(rcvfile::kMappingDir), 0);
    EXPECT_EQ(r.smartmapping_file_list(), QStringList{"a.kvfile"});
    EXPECT_EQ(r.get_dir_file("/mnt/usb1"), 0);   // not the stick's listing name: nothing changes
    EXPECT_EQ(r.smartmapping_file_list(), QStringList{"a.kvfile"});
    EXPECT_EQ(r.get_dir_file(rcvfile::kUsbDir), 0);
    QStringList usb = r.smartmapping_file_list();
    usb.sort();
    EXPECT_EQ(usb, (QStringList{"b.kvfile", "c"}));
    EXPECT_EQ(r.rcvrecovery_file_list(), QStringList{"KVFX"});
    // A folder that went away leaves the list as it was.
    std::filesystem::remove_all(plat::path("/mnt/usb1"));
    EXPECT_EQ(r.get_dir_file(rcvfile::kUsbDir), 1);
    EXPECT_EQ(r.smartmapping_file_list().size(), 2);
}

TEST_F(RcvFileTest, ListsReplacedFromSeveralThreadsStayWhole) {
    for (int k = 0; k < 5; ++k) testkit::writeFile("/data/smartmapping/f" + std::to_string(k), "x");
    for (int k = 0; k < 3; ++k) testkit::writeFile("/mnt/usb1/u" + std::to_string(k), "x");
    testkit::writeFile("/data/rcvrecovery/KVFX", "k");
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    // The engine, the protocol and the USB watcher list; the screens read.
    std::thread lister1([&] {
        while (!stop) r.get_dir_file(rcvfile::kMappingDir);
    });
    std::thread lister2([&] {
        while (!stop) {
            r.get_dir_file(rcvfile::kUsbDir);
            r.get_dir_file(rcvfile::kRecoveryDir);
        }
    });
    for (int k = 0; k < 2000; ++k) {
        const QStringList l = r.smartmapping_file_list();
        if (!l.isEmpty() && l.size() != 5 && l.size() != 3) ++torn;
        for (const QString& s : l)
            if (s.size() != 2) ++torn;
        const QStringList rec = r.rcvrecovery_file_list();
        if (!rec.isEmpty() && rec != QStringList{"KVFX"}) ++torn;
    }
    stop = true;
    lister1.join();
    lister2.join();
    EXPECT_EQ(torn.load(), 0);
}

// ---------------------------------------------------------------- whole-file check

TEST_F(RcvFileTest, GeneratedFilesPassTheCheckWithEmptyListsIncluded) {
    std::string why;
    EXPECT_TRUE(packedOk(kTwoScreens, &why)) << why;
    // No nets, a card without operations, an empty own list: all valid, the job moves on.
    EXPECT_TRUE(packedOk(R"({"screens": [{"config_id": 1, "para_ops": [], "nets": []},
        {"config_id": 2, "nets": [{"net_ledx": 0, "cards": [[], []]}]}]})", &why)) << why;
    EXPECT_TRUE(standaloneOk(R"({"kind": "standalone", "ops": []})", &why)) << why;
    // The largest data each frame can carry.
    EXPECT_TRUE(standaloneOk(R"({"kind": "standalone", "ops": [{"type": 1, "target": 1, "fill": 254999},
        {"type": 1, "target": 2, "fill": 1000}, {"type": 3, "fill": 1000}, {"type": 5, "fill": 1000},
        {"type": 7, "fill": 1000}, {"type": 16, "fill": 1000}, {"type": 1, "target": 3, "fill": 3000},
        {"type": 4, "fill": 3000}, {"type": 2}, {"type": 6, "timeticks": 100}]})", &why)) << why;
}

TEST_F(RcvFileTest, ScreenWithoutAreaHasNoNetsWhateverLiesAtItsOffset) {
    // Offset 0 of the XY part is its head, whose first bytes read as 0xA1A0 nets.
    std::string why;
    ASSERT_TRUE(packedOk(R"({"screens": [{"config_id": 1, "xy_offset": 0, "xy_len": 0, "nets": [],
        "para_ops": [{"type": 6, "timeticks": 10}]}]})", &why)) << why;
    readTable(kKvfx);
    ASSERT_EQ(r.update_rcvScreenHead(kKvfx), 0);
    ASSERT_EQ(r.update_rcvScreenIDinfo(kKvfx, 0), 0);
    r.net_num = 9;
    ASSERT_EQ(r.update_rcvXYscreenNetnum(kKvfx), 0);
    EXPECT_EQ(r.net_num, 0);
    EXPECT_EQ(r.update_rcvXYscreenNetpara(kKvfx, 0), 1);
    ASSERT_EQ(r.update_smartDebugingOperateTimes(kKvfx, false), 0);
    EXPECT_EQ(r.operate_times, 1);
    // The same screen claiming an area there is refused.
    EXPECT_FALSE(packedOk(R"({"screens": [{"config_id": 1, "xy_offset": 0, "xy_len": 4, "nets": []}]})", &why));
}

TEST_F(RcvFileTest, PartCountZeroOrSevenIsRefusedAndNeverOverrunsTheTable) {
    std::string why;
    EXPECT_FALSE(packedOk(R"({"part_count": 0, "screens": [{"config_id": 1, "nets": []}]})", &why));
    EXPECT_FALSE(why.empty());
    // With no part table the readers do not take the file's first bytes as a screen.
    readTable(kKvfx);
    EXPECT_EQ(r.update_rcvScreenHead(kKvfx), 1);

    EXPECT_FALSE(packedOk(R"({"extra_entries": 4, "screens": [{"config_id": 1, "nets": []}]})", &why));
    EXPECT_FALSE(why.empty());
    ASSERT_EQ(r.get_rcvPackedFileNum(kKvfx), 0);
    EXPECT_EQ(r.part_num(), 7);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(r.get_rcvPackedFileInfo(kKvfx, k), 0);
    EXPECT_EQ(r.get_rcvPackedFileInfo(kKvfx, 6), 1);
    EXPECT_TRUE(r.has_part(10));

    // Each part is needed only by a screen that has an area in it.
    EXPECT_TRUE(packedOk(R"({"omit_parts": [12], "screens": [{"config_id": 1, "nets": []}]})", &why)) << why;
    EXPECT_FALSE(packedOk(R"({"omit_parts": [12], "screens": [{"config_id": 1, "para_ops": [], "nets": []}]})", &why));
    // ... even when its list, taken from the file's start, would land on a whole list
    const std::string list = R"({"omit_parts": [12], "screens": [{"config_id": 1, "nets": [],
        "para_ops": [{"type": 1, "target": 2, "data": "0102"}]}]})";
    const auto d = at(generate("/data/rcvrecovery/KVFX", list).value("screens"), 0).value("d").toInt();
    ASSERT_GT(d, 0);
    std::string pointing = list;
    pointing.insert(pointing.find(R"("nets")"), R"("para_offset": )" + std::to_string(d) + ", ");
    why.clear();
    EXPECT_FALSE(packedOk(pointing, &why)) << "a list with no part 12 to lie in";
    EXPECT_NE(why.find("(12)"), std::string::npos) << why;
    EXPECT_TRUE(packedOk(R"({"omit_parts": [11], "screens": [{"config_id": 1, "para_ops": [], "xy_len": 0}]})", &why))
        << why;
    EXPECT_FALSE(packedOk(R"({"omit_parts": [11], "screens": [{"config_id": 1, "nets": []}]})", &why));
    EXPECT_FALSE(packedOk(R"({"omit_parts": [10], "screens": [{"config_id": 1, "nets": []}]})", &why));
    EXPECT_FALSE(packedOk(R"({"screens": []})", &why));   // no screen to check
}

TEST_F(RcvFileTest, TruncationAtEveryByteIsRefused) {
    const std::string desc = R"({"screens": [{"config_id": 1, "para_ops": [{"type": 3, "data": "01"}],
        "nets": [{"net_ledx": 1, "cards": [[{"type": 1, "target": 1, "fill": 3}], []]}]}]})";
    ASSERT_TRUE(packedOk(desc));
    const std::string whole = testkit::readFile("/data/rcvrecovery/KVFX");
    for (size_t n = 0; n < whole.size(); ++n) {
        testkit::writeFile("/data/rcvrecovery/KVFX", whole.substr(0, n));
        EXPECT_FALSE(r.validate_packed(kKvfx)) << "cut at " << n << " of " << whole.size();
    }
    ASSERT_TRUE(standaloneOk(R"({"kind": "standalone", "ops": [{"type": 16, "data": "a0"}, {"type": 6}]})"));
    const std::string single = testkit::readFile("/data/smartmapping/a.kvfile");
    for (size_t n = 0; n < single.size(); ++n) {
        testkit::writeFile("/data/smartmapping/a.kvfile", single.substr(0, n));
        EXPECT_FALSE(r.validate_standalone("/data/smartmapping/a.kvfile")) << "cut at " << n;
    }
}

TEST_F(RcvFileTest, PositionsOutsideTheFileAreRefusedWithoutWrapping) {
    std::string why;
    // Data past the end, and an offset that wraps 32 bits back into the file.
    EXPECT_FALSE(packedOk(R"({"screens": [{"config_id": 1, "nets": [{"net_ledx": 1,
        "cards": [[{"type": 3, "data": "01", "offset": 100000}]]}]}]})", &why));
    EXPECT_FALSE(packedOk(R"({"screens": [{"config_id": 1, "nets": [{"net_ledx": 1,
        "cards": [[{"type": 3, "data": "01", "offset": 4294967290}]]}]}]})", &why));
    EXPECT_FALSE(packedOk(R"({"screens": [{"config_id": 1, "nets": [{"net_ledx": 1, "net_para_offset": 4294967280,
        "cards": [[]]}]}]})", &why));
    EXPECT_FALSE(packedOk(R"({"screens": [{"config_id": 1, "xy_offset": 4294967295, "nets": []}]})", &why));
    EXPECT_FALSE(packedOk(R"({"screens": [{"config_id": 1, "para_ops": [], "para_offset": 70000, "nets": []}]})", &why));
    // More cards than blocks in the file.
    EXPECT_FALSE(packedOk(R"({"screens": [{"config_id": 1, "nets": [{"net_ledx": 1, "net_rcv_num": 9000,
        "cards": [[]]}]}]})", &why));
    EXPECT_FALSE(packedOk(R"({"screen_num": 9, "screens": [{"config_id": 1, "nets": []}]})", &why));
    EXPECT_FALSE(standaloneOk(R"({"kind": "standalone", "ops": [{"type": 16, "data": "a0", "dataLen": 2}]})", &why));
    EXPECT_FALSE(standaloneOk(R"({"kind": "standalone", "count": 3, "ops": [{"type": 6}]})", &why));
    EXPECT_FALSE(why.empty());
}

TEST_F(RcvFileTest, PortFortyIsRefusedAndPortThirtyOneKept) {
    std::string why;
    EXPECT_FALSE(packedOk(R"({"screens": [{"config_id": 1, "nets": [{"net_ledx": 40, "cards": []}]}]})", &why));
    EXPECT_NE(why.find("40"), std::string::npos) << why;
    EXPECT_TRUE(packedOk(R"({"screens": [{"config_id": 1, "nets": [{"net_ledx": 31, "cards": []}]}]})", &why)) << why;
}

TEST_F(RcvFileTest, OperationsNoFrameCanCarryAreRefused) {
    const auto one = [this](const std::string& op) {
        return standaloneOk(R"({"kind": "standalone", "ops": [)" + op + "]}");
    };
    EXPECT_FALSE(one(R"({"type": 8})"));
    EXPECT_FALSE(one(R"({"type": 0})"));
    EXPECT_FALSE(one(R"({"type": 1, "target": 0, "fill": 2})"));
    EXPECT_FALSE(one(R"({"type": 1, "target": 1, "fill": 255000})"));   // 256 packets
    EXPECT_FALSE(one(R"({"type": 1, "target": 1, "addr": 4294967000, "fill": 1000})"));
    EXPECT_FALSE(one(R"({"type": 1, "target": 2, "fill": 1001})"));
    EXPECT_FALSE(one(R"({"type": 3, "fill": 1001})"));
    EXPECT_FALSE(one(R"({"type": 5, "fill": 1001})"));
    EXPECT_FALSE(one(R"({"type": 7, "fill": 1001})"));
    EXPECT_FALSE(one(R"({"type": 16, "fill": 1001})"));
    EXPECT_FALSE(one(R"({"type": 16})"));   // no opcode byte
    // Lists and nets longer than the job's byte counters can walk.
    std::string ops;
    for (int k = 0; k < 256; ++k) ops += std::string(k ? "," : "") + R"({"type": 6})";
    EXPECT_FALSE(one(ops));
    EXPECT_TRUE(one(ops.substr(ops.find(',') + 1)));   // 255 are fine
    std::string nets;
    for (int k = 0; k < 256; ++k) nets += std::string(k ? "," : "") + R"({"net_ledx": 3})";
    EXPECT_FALSE(packedOk(R"({"screens": [{"config_id": 1, "nets": [)" + nets + "]}]}"));
}

// ---------------------------------------------------------------- the engine's reader

class RcvEngineTest : public fpgatest::FpgaTest {};

TEST_F(RcvEngineTest, EngineOwnsOneReaderAndMakesBothFolders) {
    fpga_manage* e = start();
    ASSERT_NE(e->rcv_recovery, nullptr);
    EXPECT_EQ(e->rcv_recovery->get_dir_file(rcvfile::kRecoveryDir), 0);
    EXPECT_EQ(e->rcv_recovery->get_dir_file(rcvfile::kMappingDir), 0);
    EXPECT_TRUE(e->rcv_recovery->rcvrecovery_file_list().isEmpty());
}

}  // namespace

TEST_F(RcvFileTest, NetsWhoseCardAreasOverlapAreRefusedWhileSharedAreasPass) {
    // One net of 1000 empty card lists; two more nets read as 999 and 998 cards starting 4
    // and 8 bytes into it. Staggered like that over 255 screens and nets, a file of some
    // hundred kilobytes would have the check walk billions of lists on the engine thread.
    std::string cards;
    for (int k = 0; k < 1000; ++k) cards += k ? ",[]" : "[]";
    auto desc = [&](const std::string& more1, const std::string& more2, const std::string& screen2) {
        return R"({"kind": "packed", "screens": [{"config_id": 1, "nets": [{"net_ledx": 0, "cards": [)" + cards +
               R"(]}, {"net_ledx": 1, "cards": [])" + more1 + R"(}, {"net_ledx": 2, "cards": [])" + more2 +
               "}]}" + screen2 + "]}";
    };
    const QJsonObject map = generate("/data/rcvrecovery/KVFX", desc("", "", ""));
    const QJsonObject screen0 = at(map.value("screens"), 0);
    const uint64_t offset = num(at(screen0.value("nets"), 0), "net_para_offset");
    ASSERT_GT(offset, 0u);
    auto net = [&](uint64_t add, int n) {
        return ", \"net_para_offset\": " + std::to_string(offset + add) + ", \"net_rcv_num\": " + std::to_string(n);
    };
    std::string why;
    EXPECT_FALSE(packedOk(desc(net(4, 999), net(8, 998), ""), &why));
    EXPECT_NE(why.find("card areas overlap"), std::string::npos) << why;
    // nets on two ports over the same cards, and a second screen over the same area, pass
    const std::string sameArea = ", {\"config_id\": 2, \"xy_offset\": " + std::to_string(num(screen0, "xy_offset")) + "}";
    EXPECT_TRUE(packedOk(desc(net(0, 1000), net(0, 1000), sameArea), &why)) << why;
}
