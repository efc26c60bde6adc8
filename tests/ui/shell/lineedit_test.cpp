#include <QApplication>
#include <QMouseEvent>
#include <QPointer>

#include "shell_fixture.h"
#include "support/testkit.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/shell_globals.h"

namespace {

void touch(QWidget* w) {
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
}

}  // namespace

class LineEditTest : public testkit::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        shelltest::app();
    }
};

TEST_F(LineEditTest, TouchAsksForTheKeypadWithTheFieldText) {
    My_lineEdit field;
    field.setText(QStringLiteral("1080"));
    QStringList asked;
    QObject::connect(&field, &My_lineEdit::send_show, [&](const QString& t) { asked << t; });
    touch(&field);
    EXPECT_EQ(asked, QStringList{QStringLiteral("1080")});
}

TEST_F(LineEditTest, DisabledFieldNeverOpensTheKeypad) {
    My_lineEdit field;
    field.setText(QStringLiteral("7"));
    field.setEnabled(false);
    int asked = 0;
    QObject::connect(&field, &My_lineEdit::send_show, [&] { ++asked; });
    touch(&field);
    EXPECT_EQ(asked, 0);
}

TEST_F(LineEditTest, FieldDeletedWithItsScreenLeavesGLineeditNull) {
    auto* screen = new QWidget;
    g_lineedit = new My_lineEdit(screen);
    ASSERT_FALSE(g_lineedit.isNull());
    delete screen;
    EXPECT_TRUE(g_lineedit.isNull());
    EXPECT_EQ(g_lineedit.data(), nullptr);
}
