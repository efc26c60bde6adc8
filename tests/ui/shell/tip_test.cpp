#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QRegularExpression>
#include <QSet>

#include "core/global.h"
#include "shell_fixture.h"
#include "support/testkit.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/tip.h"

namespace {

// The 10 ms tick as the home screen runs it: count one tick, then time out the pop-up.
void runTicks(TIP& tip, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        G_timeTicks++;
        tip.tick();
    }
}

}  // namespace

class TipTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        shelltest::app();
        g_language = 1;
    }
    void TearDown() override {
        g_language = 0;
        SimBoardTest::TearDown();
    }
};

TEST_F(TipTest, DoneMarkIsHiddenAfter300Ticks) {
    TIP tip;
    G_timeTicks = 1000;
    tip.tip_create(TIP::kDone);
    EXPECT_TRUE(tip.markShown());
    EXPECT_EQ(panel_style::imageOf(tip.findChild<QLabel*>(QStringLiteral("label_icon"))),
              QStringLiteral(":/png/done.png"));
    runTicks(tip, 299);
    EXPECT_TRUE(tip.markShown());
    runTicks(tip, 1);
    EXPECT_FALSE(tip.markShown());
    EXPECT_FALSE(tip.isVisible());
    EXPECT_EQ(tip.currentType(), 0);
}

TEST_F(TipTest, DoneMarkTimesOutAcrossTheTickWrap) {
    TIP tip;
    G_timeTicks = 0xFFFFFF00u;
    tip.tip_create(TIP::kDone);
    runTicks(tip, 299);  // one tick is lost across the wrap
    EXPECT_TRUE(tip.markShown());
    runTicks(tip, 2);
    EXPECT_FALSE(tip.markShown());
}

TEST_F(TipTest, UsbMessageStaysUntilReplacedAndTheDoneMarkThenTimesOut) {
    TIP tip;
    tip.tip_create(TIP::kUsbConnected);
    runTicks(tip, 1000);
    EXPECT_TRUE(tip.isVisible());
    EXPECT_EQ(tip.currentType(), int(TIP::kUsbConnected));
    tip.tip_create(TIP::kDone);
    runTicks(tip, 200);
    EXPECT_TRUE(tip.markShown());
    runTicks(tip, 100);
    EXPECT_FALSE(tip.isVisible());
}

TEST_F(TipTest, ClearHidesThePopupAtOnce) {
    TIP tip;
    tip.tip_create(TIP::kReadingData);
    EXPECT_TRUE(tip.isVisible());
    tip.tip_create(TIP::kClear);
    EXPECT_FALSE(tip.isVisible());
    EXPECT_EQ(tip.currentType(), 0);
    EXPECT_TRUE(tip.text().isEmpty());
}

TEST_F(TipTest, UsbMessagesCarryTheirTextInTheCurrentLanguage) {
    TIP tip;
    tip.tip_create(TIP::kUsbConnected);
    EXPECT_EQ(tip.text(), QStringLiteral("USB drive is connected,please wait..."));
    EXPECT_FALSE(tip.markShown());
    tip.tip_create(TIP::kUsbUnplugged);
    EXPECT_EQ(tip.text(), QStringLiteral("USB drive is unplugged."));
    tip.tip_create(TIP::kReadingData);
    EXPECT_EQ(tip.text(), QStringLiteral("Reading the data,pls wait"));

    g_language = 7;  // no branch of its own: English
    tip.tip_create(TIP::kUsbUnplugged);
    EXPECT_EQ(tip.text(), QStringLiteral("USB drive is unplugged."));
    for (uint8_t lang : {0, 2, 3, 4}) {
        g_language = lang;
        tip.tip_create(TIP::kUsbUnplugged);
        EXPECT_FALSE(tip.text().isEmpty());
        EXPECT_NE(tip.text(), QStringLiteral("USB drive is unplugged.")) << int(lang);
    }
    g_language = 0;
    tip.tip_create(TIP::kReadingData);
    EXPECT_EQ(tip.text(), QString::fromUtf8("正在读取数据，请稍候"));
}

TEST_F(TipTest, UnknownTypeLeavesThePopupAsItWas) {
    TIP tip;
    tip.tip_create(TIP::kUsbConnected);
    const QString before = tip.text();
    tip.tip_create(9);
    EXPECT_EQ(tip.currentType(), TIP::kUsbConnected);
    EXPECT_EQ(tip.text(), before);
    EXPECT_TRUE(tip.isVisible());
}

TEST_F(TipTest, PanelPicturesDecodeAndAreAllDifferent) {
    // The pictures are drawn by our own generator; a broken writer shows up as an undecodable file.
    const QString resources = QStringLiteral(VLX_SOURCE_DIR "/resources/");
    QFile qrc(resources + "resources.qrc");
    ASSERT_TRUE(qrc.open(QIODevice::ReadOnly));
    const QString list = QString::fromUtf8(qrc.readAll());
    QRegularExpression entry(QStringLiteral("<file>([^<]+)</file>"));
    QStringList files;
    for (auto it = entry.globalMatch(list); it.hasNext();) files << it.next().captured(1);
    for (const char* popup : {"png/done.png", "png/usb.png", "png/usb_out.png", "png/reading.png", "png/back.png"})
        EXPECT_TRUE(files.contains(QString::fromLatin1(popup))) << popup;
    QSet<QByteArray> seen;
    for (const QString& f : files) {
        QImage image(resources + f);
        ASSERT_FALSE(image.isNull()) << f.toStdString();
        image = image.convertToFormat(QImage::Format_ARGB32);
        const QByteArray pixels(reinterpret_cast<const char*>(image.constBits()), int(image.sizeInBytes()));
        EXPECT_FALSE(seen.contains(pixels)) << f.toStdString() << " looks like another picture";
        seen.insert(pixels);
    }
}
