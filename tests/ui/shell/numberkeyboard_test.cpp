#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <memory>

#include "shell_fixture.h"
#include "support/testkit.h"
#include "ui/shell/numberkeyboard.h"

namespace {

void click(NumberKeyboard& keypad, const char* button) {
    auto* b = keypad.findChild<QPushButton*>(QString::fromLatin1(button));
    ASSERT_NE(b, nullptr) << button;
    b->click();
}

}  // namespace

// A screen that asks the keypad for numbers, connected as every keypad screen is.
class KeypadScreen : public QDialog {
    Q_OBJECT
public:
    explicit KeypadScreen(NumberKeyboard* keypad) {
        connect(keypad, SIGNAL(sendKeyBoardUIDataToLineEdit(QString)), this, SLOT(confirmString(QString)));
    }
    QStringList results;
public slots:
    void confirmString(QString text) { results << text; }
};

class NumberKeyboardTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        shelltest::app();
        keypad = std::make_unique<NumberKeyboard>();
    }
    std::unique_ptr<NumberKeyboard> keypad;
};

TEST_F(NumberKeyboardTest, OkWithoutTypingHandsTheShownValueToEveryScreenAndEndsTheRun) {
    KeypadScreen under(keypad.get());
    KeypadScreen front(keypad.get());
    keypad->label_show(QStringLiteral("X"), QStringLiteral("1920"));
    EXPECT_EQ(keypad->findChild<QLabel*>(QStringLiteral("label_value"))->text(), QStringLiteral("1920"));
    QTimer::singleShot(0, keypad.get(), [&] { click(*keypad, "Button_ok"); });
    EXPECT_EQ(keypad->exec(), QDialog::Accepted);
    EXPECT_EQ(front.results, QStringList{QStringLiteral("1920")});
    EXPECT_EQ(under.results, QStringList{QStringLiteral("1920")});
    EXPECT_FALSE(keypad->isVisible());
}

TEST_F(NumberKeyboardTest, TypedDigitsReplaceTheValueWithoutLeadingZeros) {
    KeypadScreen screen(keypad.get());
    keypad->label_show(QStringLiteral("W"), QStringLiteral("1920"));
    for (const char* key : {"Button_0", "Button_0", "Button_4", "Button_0", "Button_7"}) click(*keypad, key);
    EXPECT_EQ(keypad->shownText(), QStringLiteral("407"));
    EXPECT_EQ(keypad->findChild<QLabel*>(QStringLiteral("label_value"))->text(), QStringLiteral("407"));
    click(*keypad, "Button_ok");
    EXPECT_EQ(screen.results, QStringList{QStringLiteral("407")});

    // Zeros alone still type a zero; deleting every digit hands back an empty text.
    keypad->label_show(QStringLiteral("W"), QStringLiteral("5"));
    click(*keypad, "Button_0");
    click(*keypad, "Button_0");
    EXPECT_EQ(keypad->shownText(), QStringLiteral("0"));
    click(*keypad, "Button_delete");
    EXPECT_EQ(keypad->shownText(), QString());
    click(*keypad, "Button_ok");
    EXPECT_EQ(screen.results, (QStringList{QStringLiteral("407"), QString()}));

    // the next request starts with an empty buffer again
    keypad->label_show(QStringLiteral("W"), QStringLiteral("64"));
    EXPECT_EQ(keypad->shownText(), QStringLiteral("64"));
}

TEST_F(NumberKeyboardTest, CloseHandsNothingOver) {
    KeypadScreen screen(keypad.get());
    keypad->label_show(QStringLiteral("H"), QStringLiteral("1080"));
    QTimer::singleShot(0, keypad.get(), [&] {
        click(*keypad, "Button_5");
        click(*keypad, "Button_close");
    });
    EXPECT_EQ(keypad->exec(), QDialog::Rejected);
    EXPECT_FALSE(keypad->isVisible());
    EXPECT_TRUE(screen.results.isEmpty());
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
