#pragma once
// Text that does not fit its widget on the 800 x 480 panel: a label or button whose text
// is wider or taller than the room its style leaves for it is cut off on the LCD.
#include <QString>
#include <QStringList>

#include <functional>

class QLabel;
class QWidget;

namespace testkit {

// One line per label, button or combo-box entry under `root` (and `root` itself) whose text
// does not fit (or that shows a soft hyphen, which the panel's font draws as "-"),
// naming the widget, the text and the room it needed and had. Text elided with "…" counts
// as not fitting unless the widget elides on purpose (panel_style::elidesOnPurpose).
QStringList textOverflows(const QWidget* root);

// One line per pair of side-by-side widgets under `root` (children of one parent) whose
// drawings overlap: a label's text or picture, a button with a text or an icon; and the
// progress ring over anything the screen draws; the in-use dot. A label's text that ends closer
// than 6 px before a button or the dot counts too: it reads as that button's caption, or runs
// under the dot.
QStringList drawnOverlaps(const QWidget* root);

// One line per label, button or combo item under `root` that still shows one of the slips
// mended in the screens' wording (misspelt English, translations that said something else,
// wrong traditional characters), as "object: text".
QStringList mendedTextSlips(const QWidget* root);

// A refusal line shown, holding `range` and fitting inside `area` in each of the five
// languages; `relabel` runs after each change of g_language. Back in English after. An empty
// `range` is a failure: every text holds it, so nothing would be compared.
void expectShownInEveryLanguage(const QLabel* note, const QWidget* area, const QString& range,
                                const std::function<void()>& relabel);
// The same with what the line holds in each language (0 simplified Chinese .. 4 traditional):
// five texts, none empty.
void expectShownInEveryLanguage(const QLabel* note, const QWidget* area, const QStringList& perLanguage,
                                const std::function<void()>& relabel);

}  // namespace testkit
