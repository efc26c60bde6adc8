#pragma once
// World of the input and layout screens: the shell's world in English (RAM and shadow agree on
// the language), the home screen with the shared keypad and pop-up, and helpers that touch
// fields, answer the keypad inside its modal run and read RAM words.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstring>

#include "app/syncupdate.h"
#include "ui/input/custommode.h"
#include "ui/input/edidset.h"
#include "ui/input/imagelayout.h"
#include "ui/input/input_screens.h"
#include "ui/input/inputchoose.h"
#include "ui/input/inputcut.h"
#include "ui/shell/my_lineedit.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/shell_fixture.h"
#include "support/ram_copies.h"

namespace inputtest {

class InputScreenTest : public shelltest::ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        ram()->setRamByte(vlxram::kLanguage, 1);
        ram()->shadowTakesRam();
        g_language = 1;
        home();
    }
    uint16_t at(unsigned address) { return ram()->ramU16(address); }
    void setBoth(unsigned address, uint16_t v) {
        ram()->setRamU16(address, v);
        testkit::setShadowU16(ram(), address, v);
    }
    // The shadow follows the RAM, as the change notification's save leaves it.
    void settle() { ram()->shadowTakesRam(); }
    // Crop entry `index` of `input` with crop number `number`.
    void putCrop(int index, int input, int number, uint16_t w = 640, uint16_t h = 360) {
        const unsigned e = vlxram::kCropTable + vlxram::kCropEntrySize * unsigned(index);
        setBoth(e, uint16_t(vlxram::kCropInUse | ((number - 1) << 8) | input));
        setBoth(e + 2, 0);
        setBoth(e + 4, 0);
        setBoth(e + 6, w);
        setBoth(e + 8, h);
        VlxRamPara::VlxCropSourceInit();
    }
    // Touches a numeric field and answers its keypad with `typed` (digits pressed, then OK).
    void typeInto(QLineEdit* field, const QString& typed) {
        QTimer::singleShot(0, [typed] {
            for (QChar c : typed) g_numberkeyboard->pressDigit(c.digitValue());
            g_numberkeyboard->findChild<QPushButton*>(QStringLiteral("Button_ok"))->click();
        });
        emit static_cast<My_lineEdit*>(field)->send_show(field->text());
    }
    template <class T>
    static T* child(QWidget* w, const char* name) {
        return w->findChild<T*>(QString::fromLatin1(name));
    }
};

}  // namespace inputtest
