#pragma once
// Why a screen refused what the user asked for, or could not do it: an orange word-wrapped line
// (object name "label_refused") hidden until a refusal shows it, kept in the language of the
// moment. Number fields go through take(): one rule for what a field holds, the reason on screen.
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>

class QLabel;
class QWidget;

class RefusalNote {
public:
    // What bounds a number field: the bytes it is stored in, what the cabinet grid leaves of the
    // receiving cards' 16-bit canvas, what the window's other edge leaves of the LED screen.
    enum class Bound { Field, Grid, LedEdge };

    RefusalNote(QWidget* parent, const QRect& geometry);

    // Digits the keypad takes for a field that holds up to `largest`.
    static int digitsFor(uint32_t largest);

    // `text` as a number of 0..largest: stored in *value, the note hidden, true. Anything else
    // (empty, no number, past `largest`) is logged as `field`'s, shown with its range, and false.
    bool take(const QString& text, uint32_t largest, Bound bound, const char* field, uint32_t* value);
    // A failure that is no field's: `text` gives it in the language of the moment.
    void show(std::function<QString()> text);
    void hide();
    // After a language change.
    void relabel();

private:
    QLabel* label_;
    std::function<QString()> text_;
};
