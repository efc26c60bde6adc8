#pragma once
// Why a screen refused what the user asked for, or could not do it: an orange word-wrapped line
// (object name "label_refused") hidden until a refusal shows it, kept in the language of the
// moment. Every number field of the panel goes through take(): one rule for what a field
// holds, the reason and the range on screen.
#include <QRect>
#include <QString>

#include <cstdint>
#include <functional>

class QLabel;
class QLineEdit;
class QWidget;

class RefusalNote {
public:
    // What bounds a number field: the bytes it is stored in, what the cabinet grid leaves of the
    // receiving cards' 16-bit canvas, what the window's other edge leaves of the LED screen, what
    // the crop's other edge leaves of the largest input picture, what the output split leaves OUT1.
    enum class Bound { Field, Grid, LedEdge, Input, Split };  // the order of the note's texts

    // What a field may take now.
    struct Range {
        uint32_t smallest = 0;
        uint32_t largest = 0;
        Bound bound = Bound::Field;
    };
    // The tighter of what the field holds (smallest..holds) and what `bound` leaves of it
    // (`leaves`, negative when nothing is left).
    static Range within(uint32_t smallest, uint32_t holds, int64_t leaves, Bound bound);

    RefusalNote(QWidget* parent, const QRect& geometry);

    // Digits the keypad takes for a field that holds up to `largest`.
    static int digitsFor(uint32_t largest);
    // The number a field shows (what it took or what was loaded into it); 0 for no number.
    static uint32_t shownNumber(const QLineEdit* field);

    // `text` as a number in `range`: stored in *value, the note hidden, true. Anything else
    // (empty, no number, outside the range) is logged as `field`'s, shown with its range, and false.
    bool take(const QString& text, const Range& range, const char* field, uint32_t* value);
    // take() for `field`, which then shows the number and counts as typed.
    bool takeInto(QLineEdit* field, const QString& text, const Range& range, const char* name);
    // A stored value shown in `field`, which no longer counts as typed.
    static void load(QLineEdit* field, uint32_t value);
    // What an editor stores for `field`: its number when typed since it was loaded, else `stored`
    // as it is now (what a PC wrote meanwhile is not written over with what the field showed).
    static uint32_t typedOr(const QLineEdit* field, uint32_t stored);
    // A field's shown number checked again once what bounds it changed; as take().
    bool recheck(const QLineEdit* shown, const Range& range, const char* field);
    // A failure that is no field's: `text` gives it in the language of the moment.
    void show(std::function<QString()> text);
    void hide();
    // After a language change.
    void relabel();

private:
    QLabel* label_;
    std::function<QString()> text_;
};
