#include "support/text_fit.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextDocument>
#include <QToolButton>
#include <QWidget>

#include <cmath>

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

void checkWidget(const QWidget* w, QStringList* out) {
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        checkLabel(label, out);
        text = label->text();
    } else if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        checkButton(button, out);
        text = button->text();
    }
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

QStringList mendedTextSlips(const QWidget* root) {
    // matched against "object: text"; each alternative is wrong wherever it shows (複 alone is
    // right in 複製, copy)
    static const QRegularExpression slips(QString::fromUtf8(
        "Cancle|Seeting|VerticalS|EDIP|USB driver"
        "|麵|髮|複位|恢複"
        "|label_tip: Ширина|: Источник$|Использовать|Слот\\d+x\\d+|Радиоприбор|стрение|Оттенок|касание|: След\\d"
        "|Chế độ\\d+x\\d+|label_IP: Dự phòng nóng|: Chiều cao$|: Độ cao$|và ngoài|Tự đọng|cập nhập"
        "|mặt lạ|càiđăt|dữ liệ$|Dấu vết|Thao tác|Bù đắp|Cài đặt Thiết bị"));
    QStringList out;
    if (!root) return out;
    auto check = [&out](const QString& name, const QString& text) {
        const QString line = name + QStringLiteral(": ") + text;
        if (slips.match(line).hasMatch()) out.append(line);
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

}  // namespace testkit
