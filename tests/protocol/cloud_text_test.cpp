// Cloud text commands: INI items 11..14, the barcode and CA files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/config_engine.h"
#include "core/global.h"
#include "protocol/cloud_text.h"
#include "support/testkit.h"

using namespace cloud;

namespace {

class CloudTextTest : public testkit::SimBoardTest {
protected:
    void TearDown() override {
        ConfigEngine::resetInstanceForTest();
        testkit::SimBoardTest::TearDown();
    }
    std::vector<uint8_t> ask(uint8_t op, uint8_t item, const std::string& text = std::string()) {
        std::vector<uint8_t> p = {op, item};
        p.insert(p.end(), text.begin(), text.end());
        std::vector<uint8_t> out;
        cloud_text_deal(p.data(), p.size(), out);
        return out;
    }
    static std::string textOf(const std::vector<uint8_t>& r) { return std::string(r.begin() + 1, r.end()); }
};

TEST_F(CloudTextTest, ItemsAreWrittenCheckedAndTurnTheCloudOn) {
    EXPECT_EQ(ask(kWrite, kItemServerPort, "5000"), std::vector<uint8_t>{0x02});  // no configuration yet
    ConfigEngine::pInstance();
    EXPECT_EQ(g_uKex_cloud, 0);
    EXPECT_EQ(ask(kWrite, kItemServerAddress, "cloud.example-1.net"), std::vector<uint8_t>{0x00});
    EXPECT_EQ(ask(kWrite, kItemServerPort, "8883"), std::vector<uint8_t>{0x00});
    EXPECT_EQ(ask(kWrite, kItemControllerName, "Hall A"), std::vector<uint8_t>{0x00});
    EXPECT_EQ(g_uKex_cloud, 1);
    EXPECT_EQ(g_uKex_cloudserverport, 8883);
    EXPECT_EQ(g_uKex_controllername.toStdString(), "Hall A");
    EXPECT_EQ(textOf(ask(kRead, kItemServerAddress)), "cloud.example-1.net");
    EXPECT_NE(testkit::readFile("/data/configs/tcpip.ini").find("cloud.example-1.net"), std::string::npos);

    for (const char* bad : {"0", "65536", "12a", ""}) EXPECT_EQ(ask(kWrite, kItemServerPort, bad)[0], 0x01) << bad;
    EXPECT_EQ(ask(kWrite, kItemServerAddress, "a;reboot")[0], 0x01);
    EXPECT_EQ(ask(kWrite, kItemUserId, "line\nbreak")[0], 0x01);
    EXPECT_EQ(ask(kWrite, kItemUserId, std::string(65, 'u'))[0], 0x01);
    EXPECT_EQ(ask(kWrite, 10, "x")[0], 0x01);   // not a cloud item
    EXPECT_EQ(ask(kRead, kItemUserId, "x")[0], 0x03);
    EXPECT_EQ(ask(7, kItemUserId)[0], 0x03);
    EXPECT_EQ(g_uKex_cloudserverport, 8883);  // refused writes changed nothing
}

TEST_F(CloudTextTest, FullDataPartitionAnswersCannotStoreAndChangesNothing) {
    ConfigEngine::pInstance();
    ASSERT_EQ(ask(kWrite, kItemServerPort, "8883")[0], 0x00);
    const std::string ini = testkit::readFile("/data/configs/tcpip.ini");
    std::vector<uint8_t> answers;
    {
        testkit::FullPartition full;
        answers.push_back(ask(kWrite, kItemServerPort, "1234").at(0));
        answers.push_back(ask(kWrite, kItemControllerName, "Hall B").at(0));
        answers.push_back(ask(kWrite, kItemBarcode, "VLX-0043").at(0));
    }
    EXPECT_EQ(answers, (std::vector<uint8_t>{0x04, 0x04, 0x04})) << "4: cannot store";
    EXPECT_EQ(textOf(ask(kRead, kItemServerPort)), "8883");
    EXPECT_EQ(textOf(ask(kRead, kItemControllerName)), " ");
    EXPECT_EQ(g_uKex_cloudserverport, 8883);
    EXPECT_EQ(testkit::readFile("/data/configs/tcpip.ini"), ini);
    EXPECT_FALSE(testkit::exists(kBarcodeFile));
}

TEST_F(CloudTextTest, BarcodeAndCaFileAreStoredWholeAndReadBack) {
    EXPECT_EQ(ask(kRead, kItemBarcode), std::vector<uint8_t>{0x00});  // none yet: empty
    EXPECT_EQ(ask(kWrite, kItemBarcode, "VLX-0042")[0], 0x00);
    EXPECT_EQ(testkit::readFile(kBarcodeFile), "VLX-0042");
    EXPECT_EQ(ask(kWrite, kItemBarcode, "two\nlines")[0], 0x01);
    const std::string pem = "-----BEGIN CERTIFICATE-----\nMIIB\r\n-----END CERTIFICATE-----\n";
    EXPECT_EQ(ask(kWrite, kItemCaFile, pem)[0], 0x00);
    EXPECT_EQ(textOf(ask(kRead, kItemCaFile)), pem);
    EXPECT_EQ(ask(kWrite, kItemCaFile, std::string("bin\0ary", 7))[0], 0x01);
    EXPECT_EQ(testkit::readFile(kCaFile), pem);
    EXPECT_EQ(textOf(ask(kRead, kItemBarcode)), "VLX-0042");
}

}  // namespace
