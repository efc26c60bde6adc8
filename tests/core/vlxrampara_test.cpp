#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "app/syncupdate.h"
#include "core/global.h"
#include <atomic>
#include <chrono>
#include <thread>

#include "store_fixture.h"
#include "support/saved_ram_file.h"
#include "support/ram_copies.h"

using namespace vlxram;
using storetest::StoreTest;
using storetest::fileU16;

namespace {
std::string image(const unsigned char* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

void setCrop(VlxRamPara* p, int entry, uint16_t word, uint16_t x = 0, uint16_t y = 0, uint16_t w = 100,
             uint16_t h = 100) {
    const unsigned e = kCropTable + kCropEntrySize * entry;
    p->setRamU16(e, word);
    p->setRamU16(e + 2, x);
    p->setRamU16(e + 4, y);
    p->setRamU16(e + 6, w);
    p->setRamU16(e + 8, h);
}
uint16_t cropWord(int input, int id) { return uint16_t(0x8000 | ((id - 1) << 8) | input); }
}  // namespace

// ---------------------------------------------------------------- loading

TEST_F(StoreTest, FirstStartCreatesFactoryParameterFile) {
    VlxRamPara* p = start();
    const std::string f = testkit::savedRamFile();
    ASSERT_EQ(f.size(), 4096u);
    EXPECT_EQ(f.substr(0, 2), "\xAA\xAA");
    EXPECT_EQ(f, image(default_para_ramlist.data(), 4096));
    EXPECT_EQ(p->ramU16(kSpliceMode), 4);
    EXPECT_EQ(p->ramU16(kLedWidth), 1920);
    EXPECT_EQ(p->ramU16(kLedHeight), 1080);
    EXPECT_EQ(p->ramU16(kEdidPara + 6 * 4), 3840);
    EXPECT_EQ(p->ramU16(kBrightness), 100);
    EXPECT_EQ(p->ramU16(kUnused8DE), 1);
    EXPECT_EQ(p->ramU16(windowField(0, kWinState)), 1);
    EXPECT_EQ(p->ramU16(windowField(1, kWinSource)), 5);
    EXPECT_EQ(p->ramU16(0x836), 0x0002);  // crop pattern runs on to 0x83F
    EXPECT_EQ(p->ramU16(0x83E), 1080);
    EXPECT_EQ(testkit::ramBytes(p), testkit::shadowBytes(p));
    // status area
    EXPECT_EQ(p->registersForTest()[37], 0x80);
    EXPECT_EQ(p->registersForTest()[38], 0x1F);
    EXPECT_EQ(p->registersForTest()[39], 0x06);
}

TEST_F(StoreTest, SecondStartReadsBackFilesUnchanged) {
    VlxRamPara* p = start();
    p->setRamU16(kLedWidth, 3000);
    p->setRamU16(kLanguage, 2);
    SyncUpdate::pInstance()->para_sync(1);
    const std::string ram = testkit::savedRamFile();
    const std::string ini = testkit::readFile("/data/configs/tcpip.ini");
    ASSERT_EQ(ini.empty(), false);

    p = restart();
    EXPECT_EQ(p->ramU16(kLedWidth), 3000);
    EXPECT_EQ(g_language, 2);
    EXPECT_EQ(testkit::savedRamFile(), ram);
    EXPECT_EQ(testkit::readFile("/data/configs/tcpip.ini"), ini);
}

TEST_F(StoreTest, WrongMarkerFileIsReplacedByFactoryImage) {
    std::string bad(4096, '\x11');
    bad[0] = '\xAA';
    bad[1] = '\x55';
    testkit::writeFile("/data/ram_device_info", bad);
    VlxRamPara* p = start();
    EXPECT_EQ(testkit::savedRamFile(), image(default_para_ramlist.data(), 4096));
    EXPECT_EQ(p->ramU16(kSpliceMode), 4);
}

TEST_F(StoreTest, ShortParameterFileWithGoodMarkerLoadsAsFarAsItGoesAndIsKept) {
    std::string shortFile = image(default_para_ramlist.data(), 102);
    shortFile[2] = 3;  // language 3 in the part that is there
    testkit::writeFile("/data/ram_device_info", shortFile);
    VlxRamPara* p = start();
    EXPECT_EQ(p->ramByte(kLanguage), 3);       // the user's setting survives
    EXPECT_EQ(p->ramU16(kBrightness), 100);     // beyond the file: factory values
    EXPECT_EQ(p->ramU16(kLedWidth), 1920);
    EXPECT_EQ(testkit::savedRamFile(), shortFile);  // not replaced

    // The next save writes the whole RAM range behind the kept marker.
    p->setRamU16(kBrightness, 77);
    ASSERT_TRUE(VlxRamPara::saveRamFile(testkit::ramBytes(p).data()));
    const std::string saved = testkit::savedRamFile();
    ASSERT_EQ(saved.size(), size_t(kRamFileMinSize));
    EXPECT_EQ(storetest::fileU16(saved, kBrightness), 77);
    EXPECT_EQ(uint8_t(saved[2]), 3);
}

TEST_F(StoreTest, StartupClearsRunTimeStateWhateverTheFileHeld) {
    std::string f = image(default_para_ramlist.data(), 4096);
    auto put = [&f](unsigned a, uint16_t v) {
        f[2 + a - 0x300] = char(v & 0xFF);
        f[3 + a - 0x300] = char(v >> 8);
    };
    put(kScreenState, 1);
    put(kCurrentMode, 3);
    put(kTestPattern, 5);
    put(kModeSaveRequest, 0x0102);
    put(kFadeTable, 0x1234);
    put(kFadeTable + 0x3E, 0x0000);
    put(kLanguage, 4);
    testkit::writeFile("/data/ram_device_info", f);
    VlxRamPara* p = start();
    EXPECT_EQ(p->ramU16(kScreenState), 0);
    EXPECT_EQ(p->ramU16(kCurrentMode), 0);
    EXPECT_EQ(p->ramU16(kTestPattern), 0);
    EXPECT_EQ(p->ramU16(kModeSaveRequest), 0x0002);
    EXPECT_EQ(p->ramU16(kFadeTable), 0x123C);
    EXPECT_EQ(p->ramU16(kFadeTable + 0x3E), 60);
    EXPECT_EQ(g_language, 4);
    EXPECT_EQ(testkit::ramBytes(p), testkit::shadowBytes(p));
}

// ---------------------------------------------------------------- protocol writes

TEST_F(StoreTest, RamWriteBeyondEndIsRefused) {
    VlxRamPara* p = start();
    unsigned char data[16];
    std::memset(data, 0x5A, sizeof data);
    const std::string before = image(testkit::ramBytes(p).data(), kRamSize);
    EXPECT_EQ(VlxRamPara::VlxRamParaDeal(data, 16, 0xFF8), 1);
    EXPECT_EQ(VlxRamPara::VlxRamParaDeal(data, 1, 0x1000), 1);
    EXPECT_EQ(VlxRamPara::VlxRamParaDeal(data, 16, 0xFFFFFFF8u), 1);  // no wrap-around
    EXPECT_EQ(image(testkit::ramBytes(p).data(), kRamSize), before);
    EXPECT_EQ(VlxRamPara::VlxRamParaDeal(data, 8, 0xFF8), 0);
    EXPECT_EQ(p->ramByte(0xFFF), 0x5A);
    EXPECT_EQ(VlxRamPara::VlxRamParaDeal(data, 0, 0x1000), 0);
}

TEST_F(StoreTest, ModeWritePastSlotOrToUnknownSlotIsRefused) {
    VlxRamPara* p = start();
    unsigned char data[4] = {1, 2, 3, 4};
    EXPECT_EQ(VlxRamPara::VlxModeUserRamParaDeal(data, 4, 0x1FFE), 0);
    EXPECT_EQ(testkit::slotBytes(p, 0)[0xFFE], 1);
    EXPECT_EQ(testkit::slotBytes(p, 0)[0x1001], 4);  // bytes 4096..4097 of the 4098-byte slot
    EXPECT_EQ(VlxRamPara::VlxModeUserRamParaDeal(data, 4, 0x1FFF), 1);
    EXPECT_EQ(VlxRamPara::VlxModeUserRamParaDeal(data, 1, 0x0FFF), 1);
    EXPECT_EQ(VlxRamPara::VlxModeUserRamParaDeal(data, 1, 0x11000), 1);
    EXPECT_EQ(VlxRamPara::VlxModeUserRamParaDeal(data, 1, 0x101000), 1);  // slot bits alias slot 1
    EXPECT_EQ(VlxRamPara::VlxModeUserRamParaDeal(data, 2, 0x10000), 0);
    EXPECT_EQ(testkit::slotBytes(p, 15)[0], 1);
    EXPECT_EQ(testkit::slotBytes(p, 15)[1], 2);
}

// ---------------------------------------------------------------- crops and sources

TEST_F(StoreTest, EmptyCropTableHasNoCropsAndOfferIdOne) {
    VlxRamPara* p = start();
    for (int i = 0; i < kCropEntries; ++i) setCrop(p, i, 0);
    VlxRamPara::VlxCropSourceInit();
    for (int s = 0; s < 6; ++s) {
        EXPECT_EQ(VlxRamPara::VlxGetCropID(s, 1), 0);
        EXPECT_EQ(VlxRamPara::VlxAddCropID(s), 1);
        EXPECT_EQ(VlxRamPara::VlxGetSourceNum(s, 40), 0);
    }
    // factory entries "source 2, not in use" count for nothing either
    p = restart();
    EXPECT_EQ(VlxRamPara::VlxGetSourceNum(2, 40), 0);
}

TEST_F(StoreTest, NthCropFollowsIdOrderAndLowestFreeIdIsOffered) {
    VlxRamPara* p = start();
    for (int i = 0; i < kCropEntries; ++i) setCrop(p, i, 0);
    setCrop(p, 0, cropWord(2, 4));
    setCrop(p, 3, cropWord(2, 1));
    setCrop(p, 7, cropWord(2, 2), 5, 6, 7, 8);
    VlxRamPara::VlxCropSourceInit();
    EXPECT_EQ(VlxRamPara::VlxGetCropID(2, 3), 4);
    EXPECT_EQ(VlxRamPara::VlxGetCropID(2, 4), 0);
    EXPECT_EQ(VlxRamPara::VlxGetCropID(2, 0), 0);
    EXPECT_EQ(VlxRamPara::VlxAddCropID(2), 3);
    EXPECT_EQ(VlxRamPara::VlxGetSourceNum(2, 40), 3);
    EXPECT_EQ(VlxRamPara::VlxGetSourceNum(2, 4), 2);
    EXPECT_EQ(VlxRamPara::VlxGetSourceNum(2, 1000), 3);  // count beyond the table is clamped
    CROP_PARA c;
    int index = -1;
    VlxRamPara::VlxGetCropPara(2, 2, &c, &index);
    EXPECT_EQ(index, 7);
    EXPECT_EQ(c.key, cropWord(2, 2));
    EXPECT_EQ(c.x, 5);
    EXPECT_EQ(c.height, 8);
    CROP_PARA untouched;
    untouched.x = 77;
    VlxRamPara::VlxGetCropPara(2, 9, &untouched, &index);
    EXPECT_EQ(index, 40);
    EXPECT_EQ(untouched.x, 77);
}

TEST_F(StoreTest, CropAddChangeDeleteKeepBitmapRight) {
    VlxRamPara* p = start();
    for (int i = 0; i < kCropEntries; ++i) setCrop(p, i, 0, 1, 1, 1, 1);
    VlxRamPara::VlxCropSourceInit();
    CROP_PARA c;
    c.x = 10;
    c.y = 20;
    c.width = 300;
    c.height = 400;
    EXPECT_EQ(VlxRamPara::VlxAddNewCrop(3, &c), 1);
    EXPECT_EQ(c331_manage::update_flag, 1);
    EXPECT_EQ(VlxRamPara::VlxAddNewCrop(3, &c), 1);
    VlxRamPara::VlxCropSourceInit();
    EXPECT_EQ(p->ramU16(kCropTable), cropWord(3, 1));
    EXPECT_EQ(p->ramU16(kCropTable + 10), cropWord(3, 2));
    EXPECT_EQ(p->ramU16(kCropTable + 6), 300);
    EXPECT_EQ(g_cut_source_state[15], 0x03);  // input 3 owns bits 120.. = byte 15

    CROP_PARA changed;
    changed.x = 1;
    changed.y = 2;
    changed.width = 3;
    changed.height = 4;
    VlxRamPara::VlxSetCropPara(3, 2, &changed);
    EXPECT_EQ(p->ramU16(kCropTable + 10), cropWord(3, 2));
    EXPECT_EQ(p->ramU16(kCropTable + 12), 1);
    EXPECT_EQ(p->ramU16(kCropTable + 18), 4);

    c331_manage::update_flag = 0;
    VlxRamPara::VlxDeleteCrop(3, 1);
    EXPECT_EQ(c331_manage::update_flag, 1);
    EXPECT_EQ(p->ramU16(kCropTable), 0);
    EXPECT_EQ(p->ramU16(kCropTable + 6), 300);  // rectangle stays
    VlxRamPara::VlxCropSourceInit();
    EXPECT_EQ(g_cut_source_state[15], 0x02);
    EXPECT_EQ(VlxRamPara::VlxGetCropID(3, 1), 2);

    // re-adding takes the lowest free entry and the lowest free id
    EXPECT_EQ(VlxRamPara::VlxAddNewCrop(3, &c), 1);
    EXPECT_EQ(p->ramU16(kCropTable), cropWord(3, 1));
    VlxRamPara::VlxCropSourceInit();
    EXPECT_EQ(g_cut_source_state[15], 0x03);
}

TEST_F(StoreTest, CropEditIsHandedToTheScalerUnderTheManageMutex) {
    VlxRamPara* p = start();
    CROP_PARA c;
    c.width = 640;
    c.height = 480;
    ASSERT_EQ(VlxRamPara::VlxAddNewCrop(2, &c), 1);
    VlxRamPara::VlxCropSourceInit();
    c331_manage::update_flag = 0;

    CROP_PARA edit;
    edit.x = 8;
    edit.y = 16;
    edit.width = 320;
    edit.height = 240;
    // While the scaler manager holds the mutex the edit waits; it lands with the flag.
    std::atomic<bool> done{false};
    c331_manage::manage_mutex.lock();
    std::thread screen([&] {
        VlxRamPara::VlxSetCropPara(2, 1, &edit);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(done);
    EXPECT_EQ(p->ramU16(kCropTable + 6), 640);
    c331_manage::manage_mutex.unlock();
    screen.join();

    EXPECT_EQ(c331_manage::update_flag, 1);
    EXPECT_EQ(p->ramU16(kCropTable), cropWord(2, 1));  // key word kept
    EXPECT_EQ(p->ramU16(kCropTable + 2), 8);
    EXPECT_EQ(p->ramU16(kCropTable + 4), 16);
    EXPECT_EQ(p->ramU16(kCropTable + 6), 320);
    EXPECT_EQ(p->ramU16(kCropTable + 8), 240);

    // An edit of a crop the input does not have changes nothing and asks nothing.
    c331_manage::update_flag = 0;
    VlxRamPara::VlxSetCropPara(2, 2, &edit);
    VlxRamPara::VlxSetCropPara(4, 1, &edit);
    EXPECT_EQ(c331_manage::update_flag, 0);
}

TEST_F(StoreTest, FullCropTableTakesNoMoreAndUsedIdsAreNotRepeated) {
    VlxRamPara* p = start();
    for (int i = 0; i < kCropEntries; ++i) setCrop(p, i, cropWord(i % 6, i / 6 + 1));
    VlxRamPara::VlxCropSourceInit();
    CROP_PARA c;
    const std::string before = image(testkit::ramBytes(p).data(), kRamSize);
    EXPECT_EQ(VlxRamPara::VlxAddNewCrop(0, &c), 0);
    EXPECT_EQ(image(testkit::ramBytes(p).data(), kRamSize), before);
    // a PC write since the last rebuild does not lead to a duplicate id
    for (int i = 0; i < kCropEntries; ++i) setCrop(p, i, 0);
    setCrop(p, 5, cropWord(1, 1));
    EXPECT_EQ(VlxRamPara::VlxAddNewCrop(1, &c), 1);
    EXPECT_EQ(p->ramU16(kCropTable), cropWord(1, 2));
}

TEST_F(StoreTest, HostileCropEntriesAndIndexesStayInBounds) {
    VlxRamPara* p = start();
    for (int i = 0; i < kCropEntries; ++i) setCrop(p, i, 0xFFFF);  // input 255, id 128
    setCrop(p, 0, 0x8006);                                          // input 6
    setCrop(p, 1, uint16_t(0x8000 | (40 << 8) | 1));                // id 41
    setCrop(p, 2, cropWord(5, 40));                                 // last legal bit
    VlxRamPara::VlxCropSourceInit();
    EXPECT_EQ(g_cut_source_state[29], 0x80);
    for (int b = 0; b < 29; ++b) EXPECT_EQ(g_cut_source_state[b], 0) << b;
    EXPECT_EQ(VlxRamPara::VlxGetCropID(5, 1), 40);
    EXPECT_EQ(VlxRamPara::VlxGetCropID(-1, 1), 0);
    EXPECT_EQ(VlxRamPara::VlxGetCropID(6, 1), 0);
    EXPECT_EQ(VlxRamPara::VlxAddCropID(200), 0);
    CROP_PARA c;
    EXPECT_EQ(VlxRamPara::VlxAddNewCrop(9, &c), 0);
    int index = 0;
    VlxRamPara::VlxGetCropPara(100, 1, &c, &index);
    EXPECT_EQ(index, 40);

    // a window pointing at crop index 200 or at an entry of input 255
    p->setRamU16(windowField(0, kWinSource), 0x80C8);
    short isCrop = 0;
    char cropIndex = 5;
    EXPECT_EQ(VlxRamPara::VlxGetImageSource(testkit::ramBytes(p).data(), 0, &isCrop, &cropIndex, 0), 0);
    EXPECT_EQ(isCrop, 0);       // no crop a caller could look up
    EXPECT_EQ(cropIndex, 5);
    p->setRamU16(windowField(0, kWinSource), 0x8003);
    EXPECT_EQ(VlxRamPara::VlxGetImageSource(testkit::ramBytes(p).data(), 0, &isCrop, &cropIndex, 0), 0);
    EXPECT_EQ(VlxRamPara::VlxGetImageSource(testkit::ramBytes(p).data(), 200, &isCrop, &cropIndex, 0), 0);

    const std::string before = image(testkit::ramBytes(p).data(), kRamSize);
    VlxRamPara::VlxSetImageSource(0, 1, 16);
    VlxRamPara::VlxSetImageSource(0, 9, 0);
    VlxRamPara::VlxSetImageSource(0, 1, char(0xFF));  // -1 on the PC, 255 on the board: refused on both
    VlxRamPara::VlxSetImageSource(0, char(0xFF), 0);
    VlxRamPara::VlxSetEDIDPara(6, 1, 1, 1);
    VlxRamPara::VlxSetEDIDPara(-1, 1, 1, 1);
    EXPECT_EQ(image(testkit::ramBytes(p).data(), kRamSize), before);
    EXPECT_EQ(VlxRamPara::VlxUserModeSaved(16), 0);
    EXPECT_EQ(VlxRamPara::mode_file_deal(16, 0), 0);
    EXPECT_EQ(VlxRamPara::mode_file_deal(-1, 1), 0);
    EXPECT_EQ(VlxRamPara::mode_file_write(16, 0), 0);
}

TEST_F(StoreTest, WindowSourceFollowsCropOrFallsBackToInputZero) {
    VlxRamPara* p = start();
    for (int i = 0; i < kCropEntries; ++i) setCrop(p, i, 0);
    setCrop(p, 4, cropWord(3, 1));
    VlxRamPara::VlxCropSourceInit();
    p->setRamU16(kCurrentMode, 5);
    p->shadowTakesRam();

    VlxRamPara::VlxSetImageSource(1, 3, 2);
    EXPECT_EQ(p->ramU16(windowField(2, kWinSource)), 0x8004);
    EXPECT_EQ(p->ramU16(kCurrentMode), 0);  // no longer the recalled mode
    EXPECT_EQ(c331_manage::update_flag, 1);
    short isCrop = 0;
    char index = 0;
    EXPECT_EQ(VlxRamPara::VlxGetImageSource(testkit::ramBytes(p).data(), 2, &isCrop, &index, 0), 3);
    EXPECT_EQ(isCrop, 1);
    EXPECT_EQ(index, 4);

    VlxRamPara::VlxSetImageSource(2, 3, 2);  // input 3 has one crop only
    EXPECT_EQ(p->ramU16(windowField(2, kWinSource)), 0);
    VlxRamPara::VlxSetImageSource(0, 5, 2);
    EXPECT_EQ(VlxRamPara::VlxGetImageSource(testkit::ramBytes(p).data(), 2, &isCrop, &index, 0), 5);
    EXPECT_EQ(isCrop, 0);

    // current mode changed since the last save: left alone
    p->setRamU16(kCurrentMode, 7);
    VlxRamPara::VlxSetImageSource(0, 1, 0);
    EXPECT_EQ(p->ramU16(kCurrentMode), 7);
}

TEST_F(StoreTest, ImageSourceOfModeCopyReadsThatCopysCropTable) {
    VlxRamPara* p = start();
    std::vector<uint8_t> slot = testkit::slotBytes(p, 3);
    unsigned char* copy = slot.data() + 2;  // copy of RAM 0x380..
    VlxRamPara::setU16(copy, windowField(1, kWinSource) - kModeStart, 0x8007);
    VlxRamPara::setU16(copy, kCropTable + 70 - kModeStart, cropWord(4, 1));
    setCrop(p, 7, cropWord(1, 1));  // the live RAM says something else
    short isCrop = 0;
    char index = 0;
    EXPECT_EQ(VlxRamPara::VlxGetImageSource(copy, 1, &isCrop, &index, 1), 4);
    EXPECT_EQ(isCrop, 1);
    EXPECT_EQ(index, 7);
}

TEST_F(StoreTest, EdidParametersAreWrittenUnderHandOver) {
    VlxRamPara* p = start();
    VlxRamPara::VlxSetEDIDPara(5, 1280, 720, 50);
    EXPECT_EQ(p->ramU16(kEdidPara + 30), 1280);
    EXPECT_EQ(p->ramU16(kEdidPara + 32), 720);
    EXPECT_EQ(p->ramU16(kEdidPara + 34), 50);
    EXPECT_EQ(c331_manage::update_flag, 1);
    EXPECT_TRUE(c331_manage::manage_mutex.try_lock());  // released again
    c331_manage::manage_mutex.unlock();
}

TEST_F(StoreTest, LanguageAndModeIndexReadTheLowByteAndU16) {
    VlxRamPara* p = start();
    p->setRamU16(kLanguage, 0x0102);
    testkit::setShadowU16(p, kLanguage, 0x0002);
    EXPECT_EQ(VlxRamPara::VlxLanguageChanged(), 1);
    EXPECT_EQ(g_language, 2);
    p->shadowTakesRam();
    EXPECT_EQ(VlxRamPara::VlxLanguageChanged(), 0);
    p->setRamU16(kCurrentMode, 16);
    EXPECT_EQ(VlxRamPara::VlxGetCurrentModeIndex(), 16);
    p->setRamU16(kCurrentMode, 17);
    EXPECT_EQ(VlxRamPara::VlxGetCurrentModeIndex(), 0);
}

TEST_F(StoreTest, NearestSavedModeWrapsAround) {
    VlxRamPara* p = start();
    EXPECT_EQ(VlxRamPara::VlxUserModeIndex(0, 1), 256);
    testkit::markSlot(p, 2, 0xAA);
    testkit::markSlot(p, 14, 0xAA);
    EXPECT_EQ(VlxRamPara::VlxUserModeIndex(2, 1), 14);
    EXPECT_EQ(VlxRamPara::VlxUserModeIndex(14, 1), 2);
    EXPECT_EQ(VlxRamPara::VlxUserModeIndex(2, 0), 14);
    EXPECT_EQ(VlxRamPara::VlxUserModeIndex(2, 2), 2);
    EXPECT_EQ(VlxRamPara::VlxUserModeIndex(2, 3), 256);
    EXPECT_EQ(VlxRamPara::VlxUserModeIndex(2, char(0xFF)), 256);
    EXPECT_EQ(VlxRamPara::VlxUserModeIndex(char(0xF2), 1), 14);  // byte 242 is slot 2 on PC and board alike
}
