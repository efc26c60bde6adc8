// Every number field of every screen under one rule, walked by touch: its largest value is taken
// and read back as shown (and stored where the screen stores it, nothing else rewritten), one
// more, 0 below the smallest and an empty field are refused with the range on screen and change
// nothing, and the keypad takes no more digits than the field holds.
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPixmapCache>
#include <QPushButton>

#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "ui/input/input_fixture.h"
#include "support/panel_touch.h"
#include "support/ram_copies.h"
#include "support/text_fit.h"
#include "ui/input/edidset.h"
#include "ui/input/imagelayout.h"
#include "ui/input/inputcut.h"
#include "ui/output/linkoption.h"
#include "ui/output/outputset.h"
#include "ui/output/splice.h"
#include "ui/shell/panel_style.h"
#include "ui/system/smartmapping.h"

namespace {

using Open = std::function<std::unique_ptr<QDialog>()>;

struct FieldRow {
    const char* what;
    Open open;             // the screen as the user reaches the field
    const char* field;
    uint32_t smallest;
    uint32_t largest;      // under what `open` set up
    int digits;            // what the keypad takes
    const char* commit;    // the button that stores the field, or none: it is stored as typed
    unsigned address;      // its RAM word, or 0: it stays on the screen until a later step
    std::set<unsigned> follows;  // words that follow it when it is stored
};

template <class T>
T* find(QWidget* root, const char* name) {
    return root->findChild<T*>(QString::fromLatin1(name));
}

// The screen's texts in the language of the moment.
void relabel(QDialog* s) {
    if (auto* a = qobject_cast<ImageLayout*>(s)) a->language_changed();
    if (auto* b = qobject_cast<InputCut*>(s)) b->language_changed();
    if (auto* c = qobject_cast<EDIDset*>(s)) c->language_changed();
    if (auto* d = qobject_cast<OutputSet*>(s)) d->language_changed();
    if (auto* e = qobject_cast<LinkOption*>(s)) e->language_changed();
    if (auto* f = qobject_cast<SmartMapping*>(s)) f->language_changed();
}

QLabel* shownNote(QWidget* screen) {
    for (QLabel* l : screen->findChildren<QLabel*>(QStringLiteral("label_refused")))
        if (l->isVisible()) return l;
    return nullptr;
}

class NumberFieldsTest : public inputtest::InputScreenTest {
protected:
    template <class Screen>
    std::unique_ptr<QDialog> shown() {
        auto screen = std::make_unique<Screen>();
        panel_style::placeOnPanel(screen.get());
        screen->show();
        return screen;
    }
    void touch(QWidget* root, const char* name) {
        QWidget* w = find<QWidget>(root, name);
        EXPECT_NE(w, nullptr) << name;
        if (w) testkit::touchWidget(w);
    }
    void type(QWidget* root, const char* field, const char* digits) {
        EXPECT_TRUE(testkit::typeByTouch(find<QLineEdit>(root, field), QString::fromLatin1(digits))) << field;
    }

    void walk(const FieldRow& row);
};

void NumberFieldsTest::walk(const FieldRow& row) {
    SCOPED_TRACE(std::string(row.what) + " " + row.field);
    const QString largest = QString::number(row.largest);
    // the largest, one more, a digit too many, 0, and an empty field (Delete, then OK)
    const QString typed[] = {largest, QString::number(row.largest + 1), largest + QLatin1Char('9'),
                             QStringLiteral("0"), QStringLiteral("-")};
    for (const QString& t : typed) {
        SCOPED_TRACE(t.toStdString());
        std::unique_ptr<QDialog> screen = row.open();
        QLineEdit* f = find<QLineEdit>(screen.get(), row.field);
        ASSERT_NE(f, nullptr);
        const QString before = f->text();
        const std::vector<uint8_t> ramBefore = testkit::ramBytes(ram());
        QString handed;
        ASSERT_TRUE(testkit::typeByTouch(f, t, &handed));
        EXPECT_LE(handed.size(), row.digits) << "the keypad took more digits than the field holds";
        if (largest.size() == row.digits && t == largest + QLatin1Char('9')) {
            EXPECT_EQ(handed, largest);
        }
        bool number = false;
        const qulonglong v = handed.toULongLong(&number);
        const bool fits = number && v >= row.smallest && v <= row.largest;
        if (t == largest) {
            ASSERT_TRUE(fits);
        }
        QLabel* note = shownNote(screen.get());
        if (fits) {
            EXPECT_EQ(note, nullptr) << note->text().toStdString();
            EXPECT_EQ(f->text(), QString::number(v));
            if (row.commit) touch(screen.get(), row.commit);
            if (row.address) {
                EXPECT_EQ(ram()->ramU16(row.address), v);
            }
            // nothing but the field itself (and what follows it) is written
            const std::vector<uint8_t> after = testkit::ramBytes(ram());
            for (unsigned a = 0; a < after.size(); ++a) {
                const unsigned word = a & ~1u;
                if (after[a] == ramBefore[a] || word == row.address || row.follows.count(word)) continue;
                ADD_FAILURE() << std::hex << "RAM 0x" << a << " rewritten";
            }
            continue;
        }
        EXPECT_EQ(f->text(), before);
        EXPECT_EQ(testkit::ramBytes(ram()), ramBefore);
        ASSERT_NE(note, nullptr) << "refused without a word on screen";
        EXPECT_TRUE(note->text().contains(largest)) << note->text().toStdString();
        EXPECT_TRUE(note->text().contains(QString::number(row.smallest))) << note->text().toStdString();
        if (t == QString::number(row.largest + 1)) {
            QDialog* s = screen.get();
            testkit::expectShownInEveryLanguage(note, note->parentWidget(), largest, [s] { relabel(s); });
        }
    }
}

TEST_F(NumberFieldsTest, WindowLayoutFieldsKeepTheWindowOnTheLedScreen) {
    const unsigned x = vlxram::windowField(0, vlxram::kWinX), y = vlxram::windowField(0, vlxram::kWinY);
    const unsigned w = vlxram::windowField(0, vlxram::kWinWidth), h = vlxram::windowField(0, vlxram::kWinHeight);
    auto layout = [=](uint16_t ledW, uint16_t atX) {
        return [=]() {
            setBoth(vlxram::kLedWidth, ledW);
            setBoth(x, atX), setBoth(y, 50), setBoth(w, 920), setBoth(h, 500);
            return shown<ImageLayout>();
        };
    };
    const FieldRow rows[] = {
        {"LED 1920 x 1080", layout(1920, 100), "lineEdit_X", 0, 1000, 5, nullptr, x, {}},
        {"LED 1920 x 1080", layout(1920, 100), "lineEdit_Y", 0, 580, 5, nullptr, y, {}},
        {"LED 1920 x 1080", layout(1920, 100), "lineEdit_W", 1, 1820, 5, nullptr, w, {}},
        {"LED 1920 x 1080", layout(1920, 100), "lineEdit_H", 1, 1030, 5, nullptr, h, {}},
        // a PC put the window at X 40000 of a 65535-wide LED screen: W takes what X leaves, X stays
        {"X 40000 from a PC", layout(65535, 40000), "lineEdit_W", 1, 25535, 5, nullptr, w, {}},
    };
    for (const FieldRow& r : rows) walk(r);
}

TEST_F(NumberFieldsTest, InputCropFieldsKeepTheCropInTheInputPicture) {
    const unsigned e = vlxram::kCropTable;
    auto crop = [=]() {
        setBoth(e, uint16_t(vlxram::kCropInUse | 2));  // HDMI1's crop 1
        setBoth(e + 2, 100), setBoth(e + 4, 50), setBoth(e + 6, 640), setBoth(e + 8, 360);
        VlxRamPara::VlxCropSourceInit();
        std::unique_ptr<QDialog> s = shown<InputCut>();
        touch(find<QWidget>(s.get(), "frame_source"), "1");
        return s;
    };
    const FieldRow rows[] = {
        {"crop 100,50 640x360", crop, "lineEdit_X", 0, 4095 - 640, 4, "button_ok", e + 2, {}},
        {"crop 100,50 640x360", crop, "lineEdit_Y", 0, 4095 - 360, 4, "button_ok", e + 4, {}},
        {"crop 100,50 640x360", crop, "lineEdit_W", 1, 4095 - 100, 4, "button_ok", e + 6, {}},
        {"crop 100,50 640x360", crop, "lineEdit_H", 1, 4095 - 50, 4, "button_ok", e + 8, {}},
    };
    for (const FieldRow& r : rows) walk(r);
}

TEST_F(NumberFieldsTest, EdidFieldsTakeWhatTheInputCanOffer) {
    const unsigned a = vlxram::kEdidPara + vlxram::kEdidParaSize * 4;  // HDMI3, an HDMI 2.0 input
    auto edid = [=]() {
        setBoth(a, 1920), setBoth(a + 2, 1080), setBoth(a + 4, 30);
        std::unique_ptr<QDialog> s = shown<EDIDset>();
        touch(s.get(), "2");
        touch(find<QWidget>(s.get(), "frame_source"), "button_tile");
        return s;
    };
    const FieldRow rows[] = {
        {"HDMI3 1920x1080@30", edid, "lineEdit_W", 1, 4095, 4, "button_save", a, {}},
        {"HDMI3 1920x1080@30", edid, "lineEdit_H", 1, 4095, 4, "button_save", a + 2, {}},
    };
    for (const FieldRow& r : rows) walk(r);
}

// What a PC writes while an editor is open is not written over with what its untouched fields showed.
TEST_F(NumberFieldsTest, EditorsStoreTheFieldsTypedNotWhatAPcWroteMeanwhile) {
    const unsigned e = vlxram::kCropTable;
    setBoth(e, uint16_t(vlxram::kCropInUse | 2));
    setBoth(e + 2, 100), setBoth(e + 4, 50), setBoth(e + 6, 640), setBoth(e + 8, 360);
    VlxRamPara::VlxCropSourceInit();
    std::unique_ptr<QDialog> crop = shown<InputCut>();
    touch(find<QWidget>(crop.get(), "frame_source"), "1");
    setBoth(e + 6, 800);
    type(crop.get(), "lineEdit_X", "200");
    touch(crop.get(), "button_ok");
    EXPECT_EQ(ram()->ramU16(e + 2), 200);
    EXPECT_EQ(ram()->ramU16(e + 6), 800);
    crop.reset();

    const unsigned a = vlxram::kEdidPara + vlxram::kEdidParaSize * 4;
    setBoth(a, 1920), setBoth(a + 2, 1080), setBoth(a + 4, 60);
    std::unique_ptr<QDialog> edid = shown<EDIDset>();
    touch(edid.get(), "2");
    touch(find<QWidget>(edid.get(), "frame_source"), "button_tile");
    setBoth(a + 2, 1200), setBoth(a + 4, 30);
    type(edid.get(), "lineEdit_W", "1600");
    touch(edid.get(), "button_save");
    EXPECT_EQ(ram()->ramU16(a), 1600);
    EXPECT_EQ(ram()->ramU16(a + 2), 1200);
    EXPECT_EQ(ram()->ramU16(a + 4), 30);
}

TEST_F(NumberFieldsTest, OutputFieldsTakeWhatTheSpliceLeavesOut1) {
    using namespace vlxram;
    auto output = [=](int code, uint16_t w1, uint16_t h1) {
        return [=]() {
            setBoth(kLedWidth, 1920), setBoth(kLedHeight, 1080), setBoth(kSpliceMode, uint16_t(code));
            setBoth(kOut1Width, w1), setBoth(kOut1Height, h1);
            return shown<OutputSet>();
        };
    };
    const std::set<unsigned> out2 = {kOut1Width, kOut1Height, kOut2X, kOut2Y, kOut2Width, kOut2Height};
    const int h = splice::kCodeHorizontal, v = splice::kCodeVertical, c = splice::kCodeCopy;
    const FieldRow rows[] = {
        {"horizontal", output(h, 960, 1080), "lineEdit_out1_width", 1, 1919, 4, "Button_apply1", kOut1Width, out2},
        {"horizontal", output(h, 960, 1080), "lineEdit_out1_height", 1, 1080, 4, "Button_apply1", kOut1Height, out2},
        {"vertical", output(v, 1920, 540), "lineEdit_out1_width", 1, 1920, 4, "Button_apply1", kOut1Width, out2},
        {"vertical", output(v, 1920, 540), "lineEdit_out1_height", 1, 1079, 4, "Button_apply1", kOut1Height, out2},
        {"copy", output(c, 1920, 1080), "lineEdit_out1_width", 1920, 1920, 4, "Button_apply1", kOut1Width, out2},
        {"copy", output(c, 1920, 1080), "lineEdit_out1_height", 1080, 1080, 4, "Button_apply1", kOut1Height, out2},
    };
    for (const FieldRow& r : rows) walk(r);
}

TEST_F(NumberFieldsTest, NetworkOctetsTakeZeroTo255) {
    auto network = [=]() {
        std::unique_ptr<QDialog> s = shown<LinkOption>();
        touch(s.get(), "Button_wlan");
        return s;
    };
    for (const char* row : {"Ip", "Mask", "Gate"})
        for (int k = 1; k <= 4; ++k) {
            const std::string name = std::string("lineEdit") + row + std::to_string(k);
            walk({"network", network, name.c_str(), 0, 255, 3, nullptr, 0, {}});
        }
}

// A cabinet size, a count and an offset each take what the other two leave of the cards'
// 16-bit canvas, whichever is typed last.
TEST_F(NumberFieldsTest, SmartMappingFieldsKeepTheCabinetGridOnTheCanvas) {
    auto grid = [=](const char* columns, const char* offsetX, bool back) {
        return [=]() {
            std::unique_ptr<QDialog> s = shown<SmartMapping>();
            type(s.get(), "lineEdit_X", "512");
            type(s.get(), "lineEdit_Y", "64");
            touch(s.get(), "Button_next");
            touch(s.get(), "Button_next_2");
            type(s.get(), "lineEdit_line", "2");
            type(s.get(), "lineEdit_column", columns);
            type(s.get(), "lineEdit_horzion", offsetX);
            type(s.get(), "lineEdit_vert", "50");
            if (back) {
                touch(s.get(), "Button_front_3");
                touch(s.get(), "Button_front_2");
            }
            return s;
        };
    };
    const FieldRow rows[] = {
        {"512x64, 2 x 4, +100+50", grid("4", "100", true), "lineEdit_X", 0, (65535 - 100) / 4, 5, nullptr, 0, {}},
        {"512x64, 2 x 4, +100+50", grid("4", "100", true), "lineEdit_Y", 0, (65535 - 50) / 2, 5, nullptr, 0, {}},
        {"512x64, 2 x 4, +100+50", grid("4", "100", false), "lineEdit_line", 0, 255, 3, nullptr, 0, {}},
        {"512x64, 2 x 4, +100+50", grid("4", "100", false), "lineEdit_column", 0, (65535 - 100) / 512, 3, nullptr, 0,
         {}},
        {"512x64, 2 x 4, +100+50", grid("4", "100", false), "lineEdit_horzion", 0, 65535 - 4 * 512, 5, nullptr, 0, {}},
        {"512x64, 2 x 4, +100+50", grid("4", "100", false), "lineEdit_vert", 0, 65535 - 2 * 64, 5, nullptr, 0, {}},
        // columns 0, then the whole canvas as offset: no column is left
        {"offset 65535", grid("0", "65535", false), "lineEdit_column", 0, 0, 3, nullptr, 0, {}},
    };
    for (const FieldRow& r : rows) walk(r);
}

// Each keypad run on the layout screen refreshes its panel, icons and all. An icon built once is
// found in Qt's pixmap cache again; built anew, its scaled pixmaps are added each time, and the
// cache's bound then drops what was put in before them, here a marker.
TEST_F(NumberFieldsTest, KeypadRunsOnTheLayoutAddNoIconsToThePixmapCache) {
    const int limit = QPixmapCache::cacheLimit();
    QPixmapCache::clear();
    QPixmapCache::setCacheLimit(2048);  // kB
    std::unique_ptr<QDialog> screen = shown<ImageLayout>();
    QLineEdit* x = find<QLineEdit>(screen.get(), "lineEdit_X");
    auto keypadRun = [&](int n) {
        ASSERT_TRUE(testkit::typeByTouch(x, QString::number(n % 10)));
        static_cast<ImageLayout*>(screen.get())->syncUpdate();  // as the change's refresh does
        screen->grab();  // drawn, icons and all
    };
    keypadRun(0);
    QPixmap marker(64, 64);
    marker.fill(Qt::red);
    const QPixmapCache::Key key = QPixmapCache::insert(marker);
    for (int n = 1; n <= 100; ++n) keypadRun(n);
    QPixmap found;
    EXPECT_TRUE(QPixmapCache::find(key, &found)) << "the cache grew with every keypad run";
    QPixmapCache::setCacheLimit(limit);
}

}  // namespace
