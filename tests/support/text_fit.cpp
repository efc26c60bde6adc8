#include "support/text_fit.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTextDocument>
#include <QToolButton>
#include <QWidget>

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "core/global.h"
#include "ui/shell/panel_style.h"

namespace testkit {

namespace {

constexpr int kUnbounded = 100000;
const QChar kEllipsis(0x2026);

QString describe(const QWidget* w, const QString& text, const QSize& need, const QSize& room) {
    QString path = w->objectName();
    for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget())
        if (!p->objectName().isEmpty()) path = p->objectName() + QLatin1Char('/') + path;
    return QStringLiteral("%1 (%2): \"%3\" needs %4x%5, has %6x%7")
        .arg(path, QString::fromLatin1(w->metaObject()->className()), text)
        .arg(need.width())
        .arg(need.height())
        .arg(room.width())
        .arg(room.height());
}

// Size of plain text laid out as the style draws it: one line per "\n", or wrapped to `width`.
QSize plainTextSize(const QFont& font, const QString& text, int flags, int width) {
    const QFontMetrics fm(font);
    return fm.boundingRect(QRect(0, 0, width, kUnbounded), flags, text).size();
}

QSize richTextSize(const QFont& font, const QString& text, bool wrap, int width) {
    QTextDocument doc;
    doc.setDefaultFont(font);
    doc.setDocumentMargin(0);
    doc.setHtml(text);
    if (wrap) doc.setTextWidth(width);
    const qreal w = wrap ? doc.idealWidth() : doc.size().width();
    return QSize(int(std::ceil(w)), int(std::ceil(doc.size().height())));
}

void checkLabel(const QLabel* label, QStringList* out) {
    const QString text = label->text();
    if (text.isEmpty()) return;
    QRect room = label->contentsRect();
    const int m = label->margin();
    room.adjust(m, m, -m, -m);
    if (label->indent() > 0) room.setWidth(room.width() - label->indent());
    const bool rich = label->textFormat() == Qt::RichText ||
                      (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
    const bool wrap = label->wordWrap();
    const QSize need = rich ? richTextSize(label->font(), text, wrap, room.width())
                            : plainTextSize(label->font(), text,
                                            int(label->alignment()) | (wrap ? Qt::TextWordWrap : 0),
                                            wrap ? room.width() : kUnbounded);
    if (need.width() > room.width() || need.height() > room.height())
        out->append(describe(label, text, need, room.size()));
}

void checkButton(const QAbstractButton* button, QStringList* out) {
    const QString text = button->text();
    if (text.isEmpty()) return;
    QStyleOptionButton opt;
    opt.initFrom(button);
    opt.text = text;
    opt.icon = button->icon();
    opt.iconSize = button->iconSize();
    QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, button);
    const auto* tool = qobject_cast<const QToolButton*>(button);
    if (tool && tool->toolButtonStyle() == Qt::ToolButtonTextUnderIcon) {
        // the text sits in the button's width below the icon
        room = button->rect().adjusted(2, 2, -2, -2);
        room.setHeight(room.height() - tool->iconSize().height() - 2);
    } else if (!button->icon().isNull()) {
        room.setWidth(room.width() - button->iconSize().width() - 4);
    }
    const QSize need =
        plainTextSize(button->font(), text, Qt::AlignCenter | Qt::TextShowMnemonic, kUnbounded);
    if (need.width() > room.width() || need.height() > room.height())
        out->append(describe(button, text, need, room.size()));
}

// Every entry of a list can be the one the closed box shows: each must fit its text field.
void checkCombo(const QComboBox* combo, QStringList* out) {
    QStyleOptionComboBox opt;
    opt.initFrom(combo);
    opt.editable = combo->isEditable();
    opt.frame = combo->hasFrame();
    const QRect room = combo->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, combo);
    for (int i = 0; i < combo->count(); ++i) {
        const QString text = combo->itemText(i);
        const QSize need = plainTextSize(combo->font(), text, Qt::AlignLeft | Qt::AlignVCenter, kUnbounded);
        if (need.width() > room.width() || need.height() > room.height())
            out->append(describe(combo, QStringLiteral("[%1] ").arg(i) + text, need, room.size()));
    }
}

void checkWidget(const QWidget* w, QStringList* out) {
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        checkLabel(label, out);
        text = label->text();
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        checkButton(button, out);
        text = button->text();
    } else if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
        checkCombo(combo, out);
    }
    // a format character the font draws as a glyph (a soft hyphen shows as "-")
    if (text.contains(QChar(0x00AD)))
        out->append(describe(w, text, QSize(), w->size()) + QStringLiteral(" (soft hyphen)"));
    if (text.contains(kEllipsis) && !panel_style::elidesOnPurpose(w))
        out->append(describe(w, text, QSize(), w->size()) + QStringLiteral(" (elided)"));
}

}  // namespace

QStringList textOverflows(const QWidget* root) {
    QStringList out;
    if (!root) return out;
    checkWidget(root, &out);
    for (const QWidget* w : root->findChildren<QWidget*>()) checkWidget(w, &out);
    return out;
}

namespace {
bool isRing(const QWidget* w);
// The green mark of a source or window in use (panel_style::makeInUseDot): a label with no
// text that draws its whole room.
bool isInUseDot(const QWidget* w) { return w->objectName() == QLatin1String("label_in_use"); }

// Where a widget draws something of its own, in its coordinates: a label's text as aligned
// in its room, a label's picture, the face of a button with a text or an icon, a progress
// ring; empty for a widget that draws nothing but its background.
QRect drawnBox(const QWidget* w) {
    if (isInUseDot(w)) return w->rect();
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        const QRect room = label->contentsRect();
        const QPixmap picture = label->pixmap(Qt::ReturnByValue);
        if (!picture.isNull())
            return label->hasScaledContents()
                       ? room
                       : QStyle::alignedRect(label->layoutDirection(), label->alignment(),
                                             picture.size().boundedTo(room.size()), room);
        const QString text = label->text();
        if (text.isEmpty()) return QRect();
        const bool rich = label->textFormat() == Qt::RichText ||
                          (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
        QSize need = rich ? richTextSize(label->font(), text, label->wordWrap(), room.width())
                          : plainTextSize(label->font(), text, int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0),
                                          label->wordWrap() ? room.width() : kUnbounded);
        return QStyle::alignedRect(label->layoutDirection(), label->alignment(), need.boundedTo(room.size()), room);
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(w))
        return button->text().isEmpty() && button->icon().isNull() ? QRect() : button->rect();
    if (isRing(w)) return w->rect();
    return QRect();
}

bool isRing(const QWidget* w) { return w->objectName() == QLatin1String("qround_bar"); }

// Widgets laid out side by side: children of one parent. A panel raised over a screen (the
// mode panel, a menu) lies over other widgets' children on purpose; the ring lies over
// whatever the screen shows and is compared with all of it.
bool compared(const QWidget* a, const QWidget* b) {
    if (a->isAncestorOf(b) || b->isAncestorOf(a)) return false;
    return a->parentWidget() == b->parentWidget() || isRing(a) || isRing(b);
}
}  // namespace

QStringList drawnOverlaps(const QWidget* root) {
    QStringList out;
    if (!root) return out;
    std::vector<std::pair<const QWidget*, QRect>> drawn;
    for (const QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root)) continue;
        const QRect box = drawnBox(w);
        if (box.isEmpty()) continue;
        // clipped by the widgets it lies in
        QRect onRoot(w->mapTo(root, box.topLeft()), box.size());
        for (const QWidget* p = w->parentWidget(); p && p != root; p = p->parentWidget())
            onRoot &= QRect(p->mapTo(root, QPoint(0, 0)), p->size());
        if (!onRoot.isEmpty()) drawn.emplace_back(w, onRoot);
    }
    for (size_t i = 0; i < drawn.size(); ++i)
        for (size_t j = i + 1; j < drawn.size(); ++j) {
            const QWidget* a = drawn[i].first;
            const QWidget* b = drawn[j].first;
            if (!compared(a, b)) continue;
            QRect common = drawn[i].second & drawn[j].second;
            // a text that ends closer than 6 px before a button reads as that button's caption,
            // and one that close to the in-use dot runs under it (a caption after its own check
            // box starts close to it on purpose)
            const auto* textA = qobject_cast<const QLabel*>(a);
            const auto* textB = qobject_cast<const QLabel*>(b);
            const bool buttonA = qobject_cast<const QAbstractButton*>(a) != nullptr || isInUseDot(a);
            const bool buttonB = qobject_cast<const QAbstractButton*>(b) != nullptr || isInUseDot(b);
            if (common.isEmpty() && textA && !textA->text().isEmpty() && buttonB)
                common = drawn[i].second.adjusted(0, 0, 5, 0) & drawn[j].second;
            if (common.isEmpty() && textB && !textB->text().isEmpty() && buttonA)
                common = drawn[j].second.adjusted(0, 0, 5, 0) & drawn[i].second;
            if (common.width() < 1 || common.height() < 2) continue;
            auto name = [](const QWidget* w) {
                const auto* label = qobject_cast<const QLabel*>(w);
                const auto* button = qobject_cast<const QAbstractButton*>(w);
                const QString text = label ? label->text() : button ? button->text() : QString();
                return QStringLiteral("%1 \"%2\"").arg(w->objectName(), text);
            };
            out.append(QStringLiteral("%1 and %2 meet at %3,%4 %5x%6")
                           .arg(name(a), name(b))
                           .arg(common.x())
                           .arg(common.y())
                           .arg(common.width())
                           .arg(common.height()));
        }
    return out;
}

QStringList mendedTextSlips(const QWidget* root) {
    // matched against "object: text"; each alternative is wrong wherever it shows (複 alone is
    // right in 複製, copy)
    static const QRegularExpression slips(QString::fromUtf8(
        "Cancle|Seeting|VerticalS|EDIP|USB driver"
        "|麵|髮|複位|恢複"
        "|label_tip: Ширина|: Источник$|Использовать|Слот\\d+x\\d+|Радиоприбор|стрение|Оттенок|касание|: След\\d"
        "|Chế độ\\d+x\\d+|label_IP: Dự phòng nóng|: Chiều cao$|: Độ cao$|và ngoài|Tự đọng|cập nhập"
        "|mặt lạ|càiđăt|dữ liệ$|Dấu vết|Thao tác|Bù đắp|Cài đặt Thiết bị|Самовосст\\n"));
    // simplified characters in traditional Chinese (删 for 刪, 设 for 設)
    static const QRegularExpression traditionalSlips(QString::fromUtf8("删|设"));
    QStringList out;
    if (!root) return out;
    const bool traditional = g_language.load() == 4;
    auto check = [&out, traditional](const QString& name, const QString& text) {
        const QString line = name + QStringLiteral(": ") + text;
        if (slips.match(line).hasMatch() || (traditional && traditionalSlips.match(text).hasMatch())) out.append(line);
    };
    QList<QWidget*> all = root->findChildren<QWidget*>();
    all.prepend(const_cast<QWidget*>(root));
    for (const QWidget* w : all) {
        if (const auto* label = qobject_cast<const QLabel*>(w)) {
            check(w->objectName(), label->text());
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
            check(w->objectName(), button->text());
        } else if (const auto* combo = qobject_cast<const QComboBox*>(w)) {
            for (int i = 0; i < combo->count(); ++i)
                check(w->objectName() + QStringLiteral("[%1]").arg(i), combo->itemText(i));
        }
    }
    return out;
}

void expectShownInEveryLanguage(const QLabel* note, const QWidget* area, const QString& range,
                                const std::function<void()>& relabel) {
    expectShownInEveryLanguage(note, area, QStringList{range, range, range, range, range}, relabel);
}

void expectShownInEveryLanguage(const QLabel* note, const QWidget* area, const QStringList& perLanguage,
                                const std::function<void()>& relabel) {
    ASSERT_EQ(perLanguage.size(), 5) << "one text per language";
    for (const QString& t : perLanguage) ASSERT_FALSE(t.isEmpty()) << "an empty text is in every line: nothing compared";
    EXPECT_TRUE(note->isVisible()) << "refused without a word on screen";
    for (int lang : {0, 1, 2, 3, 4}) {
        g_language = uint8_t(lang);
        relabel();
        EXPECT_TRUE(note->text().contains(perLanguage.at(lang))) << lang << ": " << note->text().toStdString();
        const QStringList cut = textOverflows(note) + drawnOverlaps(area);
        EXPECT_TRUE(cut.isEmpty()) << cut.join(QLatin1Char('\n')).toStdString();
    }
    g_language = 1;
    relabel();
}

}  // namespace testkit
