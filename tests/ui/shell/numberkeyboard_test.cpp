#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <memory>

#include "support/testkit.h"
#include "ui/shell/numberkeyboard.h"

namespace {

QApplication* keypadApp() {
    static int argc = 1;
    static char name[] = "test_ui_shell";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
    return qApp;
}

void click(NumberKeyboard& keypad, const char* button) {
    auto* b = keypad.findChild<QPushButton*>(QString::fromLatin1(button));
    ASSERT_NE(b, nullptr) << button;
    b->click();
}

void deliverQueued() {
    QCoreApplication::sendPostedEvents();
}

}  // namespace

// A screen that asks the keypad for numbers, as the screens do.
class KeypadScreen : public QDialog {
    Q_OBJECT
public:
    QStringList results;
public slots:
    void confirmString(QString text) { results << text; }
};

// A screen whose result opens a further keypad request, as a code that opens another screen does.
class ChainScreen : public QDialog {
    Q_OBJECT
public:
    explicit ChainScreen(NumberKeyboard* keypad) : keypad_(keypad) {}
    QStringList results;
    int innerRun = -2;
public slots:
    void confirmString(QString text) {
        results << text;
        if (results.size() > 1) return;
        keypad_->label_show(QStringLiteral("X"), QStringLiteral("0"), this);
        QTimer::singleShot(0, keypad_, [this] {
            keypad_->pressDigit(7);
            keypad_->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
        });
        innerRun = keypad_->exec();
    }

private:
    NumberKeyboard* keypad_;
};

class NumberKeyboardTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        keypadApp();
        keypad = std::make_unique<NumberKeyboard>();
        QObject::connect(keypad.get(), &NumberKeyboard::sendKeyBoardUIDataToLineEdit,
                         [this](const QString& t) { emitted << t; });
    }
    std::unique_ptr<NumberKeyboard> keypad;
    QStringList emitted;
};

TEST_F(NumberKeyboardTest, OkWithoutTypingHandsBackTheShownValue) {
    KeypadScreen screen;
    keypad->label_show(QStringLiteral("X"), QStringLiteral("1920"), &screen);
    EXPECT_EQ(keypad->findChild<QLabel*>(QStringLiteral("label_value"))->text(), QStringLiteral("1920"));
    click(*keypad, "Button_ok");
    deliverQueued();
    EXPECT_EQ(emitted, QStringList{QStringLiteral("1920")});
    EXPECT_EQ(screen.results, QStringList{QStringLiteral("1920")});
    EXPECT_EQ(keypad->result(), QDialog::Accepted);
}

TEST_F(NumberKeyboardTest, TypedDigitsReplaceTheValueWithoutLeadingZeros) {
    KeypadScreen screen;
    keypad->label_show(QStringLiteral("W"), QStringLiteral("1920"), &screen);
    for (const char* key : {"Button_0", "Button_0", "Button_4", "Button_0", "Button_7"}) click(*keypad, key);
    EXPECT_EQ(keypad->shownText(), QStringLiteral("407"));
    click(*keypad, "Button_ok");
    deliverQueued();
    EXPECT_EQ(screen.results, QStringList{QStringLiteral("407")});

    // Zeros alone still type a zero; deleting every digit hands back an empty text.
    keypad->label_show(QStringLiteral("W"), QStringLiteral("5"), &screen);
    click(*keypad, "Button_0");
    click(*keypad, "Button_0");
    EXPECT_EQ(keypad->shownText(), QStringLiteral("0"));
    click(*keypad, "Button_delete");
    EXPECT_EQ(keypad->shownText(), QString());
    click(*keypad, "Button_ok");
    deliverQueued();
    EXPECT_EQ(screen.results, (QStringList{QStringLiteral("407"), QString()}));
}

TEST_F(NumberKeyboardTest, ResultReachesOnlyTheScreenThatAskedForIt) {
    // The settings menu lies under a crop screen; both use the keypad.
    KeypadScreen settingsMenu;
    KeypadScreen cropScreen;
    keypad->label_show(QStringLiteral("X"), QStringLiteral("0"), &cropScreen);
    click(*keypad, "Button_1");
    click(*keypad, "Button_ok");
    deliverQueued();
    EXPECT_EQ(cropScreen.results, QStringList{QStringLiteral("1")});
    EXPECT_TRUE(settingsMenu.results.isEmpty());

    keypad->label_show(QStringLiteral("key"), QStringLiteral("**********"), &settingsMenu);
    click(*keypad, "Button_9");
    click(*keypad, "Button_ok");
    deliverQueued();
    EXPECT_EQ(settingsMenu.results, QStringList{QStringLiteral("9")});
    EXPECT_EQ(cropScreen.results, QStringList{QStringLiteral("1")});

    // One result per request: a second OK on the same request goes nowhere.
    click(*keypad, "Button_ok");
    deliverQueued();
    EXPECT_EQ(settingsMenu.results.size(), 1);
}

TEST_F(NumberKeyboardTest, CloseOrIdleHideDeliversNothing) {
    KeypadScreen screen;
    keypad->label_show(QStringLiteral("H"), QStringLiteral("1080"), &screen);
    keypad->show();
    click(*keypad, "Button_5");
    click(*keypad, "Button_close");
    EXPECT_EQ(keypad->result(), QDialog::Rejected);
    EXPECT_FALSE(keypad->isVisible());

    keypad->label_show(QStringLiteral("H"), QStringLiteral("1080"), &screen);
    keypad->show();
    keypad->hide();  // the idle return hides the keypad
    click(*keypad, "Button_ok");
    deliverQueued();
    EXPECT_TRUE(screen.results.isEmpty());
    EXPECT_EQ(keypad->requester(), nullptr);
}

TEST_F(NumberKeyboardTest, RequesterDeletedWhileKeypadOpenIsNotTouched) {
    auto* screen = new KeypadScreen;
    keypad->label_show(QStringLiteral("Y"), QStringLiteral("12"), screen);
    delete screen;
    EXPECT_EQ(keypad->requester(), nullptr);
    click(*keypad, "Button_ok");
    deliverQueued();
    EXPECT_EQ(emitted, QStringList{QStringLiteral("12")});
}

TEST_F(NumberKeyboardTest, ResultIsDeliveredAfterTheModalRunEnds) {
    KeypadScreen screen;
    keypad->label_show(QStringLiteral("X"), QStringLiteral("0"), &screen);
    QTimer::singleShot(0, keypad.get(), [this] {
        keypad->pressDigit(3);
        keypad->pressDigit(2);
        click(*keypad, "Button_ok");
    });
    EXPECT_EQ(keypad->exec(), QDialog::Accepted);
    // The screen sees the result once the keypad's run is over, so it may run the keypad again.
    EXPECT_TRUE(screen.results.isEmpty());
    deliverQueued();
    EXPECT_EQ(screen.results, QStringList{QStringLiteral("32")});

}

TEST_F(NumberKeyboardTest, ScreenMayRunTheKeypadAgainFromItsResult) {
    // The settings menu opens the layout screen from the access code, whose fields use the keypad.
    ChainScreen screen(keypad.get());
    keypad->label_show(QStringLiteral("key"), QStringLiteral("**********"), &screen);
    QTimer::singleShot(0, keypad.get(), [this] { click(*keypad, "Button_ok"); });
    EXPECT_EQ(keypad->exec(), QDialog::Accepted);
    deliverQueued();
    EXPECT_EQ(screen.innerRun, QDialog::Accepted);
    deliverQueued();
    EXPECT_EQ(screen.results, (QStringList{QStringLiteral("**********"), QStringLiteral("7")}));
}

TEST_F(NumberKeyboardTest, FourCharacterTitleUsesTheSmallFont) {
    keypad->label_show(QString::fromUtf8("IP地址"), QStringLiteral("192"));
    auto* title = keypad->findChild<QLabel*>(QStringLiteral("label_title"));
    EXPECT_EQ(title->font().pixelSize(), 18);
    keypad->label_show(QString::fromUtf8("宽"), QStringLiteral("1"));
    EXPECT_EQ(title->font().pixelSize(), 25);
    EXPECT_EQ(title->text(), QString::fromUtf8("宽"));
}

#include "numberkeyboard_test.moc"
