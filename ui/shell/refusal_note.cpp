#include "ui/shell/refusal_note.h"

#include <QLabel>
#include <QLineEdit>

#include <algorithm>

#include "core/logMsg.h"
#include "ui/shell/panel_style.h"

using panel_style::langText;

namespace {

// Per bound, in the order of RefusalNote::Bound: the note in the five languages, and the log's words.
struct BoundTexts {
    const char* zh;
    const char* en;
    const char* ru;
    const char* vi;
    const char* tw;
    const char* log;
};
constexpr BoundTexts kBoundTexts[] = {
    {"已拒绝：此项只允许%1至%2", "Refused: this field takes %1 to %2", "Отказ: поле допускает от %1 до %2",
     "Từ chối: ô này chỉ cho phép từ %1 đến %2", "已拒絕：此項只允許%1至%2", "the field holds"},
    {"已拒绝：箱体网格只允许%1至%2", "Refused: the cabinet grid allows %1 to %2",
     "Отказ: сетка кабинетов допускает от %1 до %2", "Từ chối: lưới tủ chỉ cho phép từ %1 đến %2",
     "已拒絕：箱體網格只允許%1至%2", "the grid leaves"},
    {"已拒绝：LED屏边缘只允许%1至%2", "Refused: the LED screen's edge allows %1 to %2",
     "Отказ: край экрана LED допускает от %1 до %2", "Từ chối: cạnh màn hình LED chỉ cho phép từ %1 đến %2",
     "已拒絕：LED屏邊緣只允許%1至%2", "the LED screen's edge leaves"},
    {"已拒绝：输入画面只允许%1至%2", "Refused: the input picture allows %1 to %2", "Отказ: кадр входа допускает от %1 до %2",
     "Từ chối: ảnh đầu vào chỉ cho phép từ %1 đến %2", "已拒絕：輸入畫面只允許%1至%2", "the input picture leaves"},
    {"已拒绝：拼接方式只允许%1至%2", "Refused: the splice allows %1 to %2", "Отказ: сплайс допускает от %1 до %2",
     "Từ chối: ghép nối chỉ cho phép từ %1 đến %2", "已拒絕：拼接方式只允許%1至%2", "the splice leaves"},
};

const BoundTexts& textsOf(RefusalNote::Bound bound) { return kBoundTexts[static_cast<int>(bound)]; }

QString boundText(const RefusalNote::Range& r) {
    const BoundTexts& t = textsOf(r.bound);
    return langText(t.zh, t.en, t.ru, t.vi, t.tw).arg(r.smallest).arg(r.largest);
}

}  // namespace

RefusalNote::Range RefusalNote::within(uint32_t smallest, uint32_t holds, int64_t leaves, Bound bound) {
    if (leaves >= int64_t(holds)) return Range{smallest, holds, Bound::Field};
    if (leaves >= int64_t(smallest)) return Range{smallest, uint32_t(leaves), bound};
    // nothing is left: a range no number lies in
    const uint32_t from = std::max<uint32_t>(smallest, 1);
    return Range{from, from - 1, bound};
}

RefusalNote::RefusalNote(QWidget* parent, const QRect& geometry)
    : label_(panel_style::makeRefusedLabel(parent, geometry)) {}

int RefusalNote::digitsFor(uint32_t largest) { return int(QString::number(largest).size()); }

uint32_t RefusalNote::shownNumber(const QLineEdit* field) {
    bool ok = false;
    const qulonglong v = field->text().toULongLong(&ok, 10);
    return ok && v <= 0xFFFFFFFFull ? uint32_t(v) : 0;
}

bool RefusalNote::take(const QString& text, const Range& range, const char* field, uint32_t* value) {
    bool ok = false;
    const qulonglong v = text.toULongLong(&ok, 10);
    if (ok && v >= range.smallest && v <= range.largest) {
        *value = uint32_t(v);
        hide();
        return true;
    }
    writeLogMsg(LOG_WARNING, std::string(field) + " \"" + text.left(24).toStdString() + "\" refused, " +
                                 textsOf(range.bound).log + " " + std::to_string(range.smallest) + " to " +
                                 std::to_string(range.largest));
    show([range] { return boundText(range); });
    return false;
}

namespace {
constexpr const char* kTypedProperty = "vlxTyped";
}  // namespace

bool RefusalNote::takeInto(QLineEdit* field, const QString& text, const Range& range, const char* name) {
    uint32_t v = 0;
    if (!take(text, range, name, &v)) return false;
    field->setText(QString::number(v));
    field->setProperty(kTypedProperty, true);
    return true;
}

void RefusalNote::load(QLineEdit* field, uint32_t value) {
    field->setText(QString::number(value));
    field->setProperty(kTypedProperty, false);
}

uint32_t RefusalNote::typedOr(const QLineEdit* field, uint32_t stored) {
    return field->property(kTypedProperty).toBool() ? shownNumber(field) : stored;
}

bool RefusalNote::recheck(const QLineEdit* shown, const Range& range, const char* field) {
    uint32_t v = 0;
    return take(shown->text(), range, field, &v);
}

void RefusalNote::show(std::function<QString()> text) {
    text_ = std::move(text);
    relabel();
    label_->show();
}

void RefusalNote::hide() {
    label_->hide();
    text_ = nullptr;
}

void RefusalNote::relabel() {
    if (text_) label_->setText(text_());
}
