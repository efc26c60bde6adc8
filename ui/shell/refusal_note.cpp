#include "ui/shell/refusal_note.h"

#include <QLabel>

#include "core/logMsg.h"
#include "ui/shell/panel_style.h"

using panel_style::langText;

namespace {

QString boundText(RefusalNote::Bound bound, uint32_t largest) {
    switch (bound) {
    case RefusalNote::Bound::Grid:
        return langText("已拒绝：箱体网格只允许偏移0至%1", "Refused: the grid allows an offset of 0 to %1",
                        "Отказ: сетка допускает смещение от 0 до %1", "Từ chối: lưới chỉ cho phép độ lệch từ 0 đến %1",
                        "已拒絕：箱體網格只允許偏移0至%1")
            .arg(largest);
    case RefusalNote::Bound::LedEdge:
        return langText("已拒绝：LED屏边缘只允许0至%1", "Refused: the LED screen's edge allows 0 to %1",
                        "Отказ: край экрана LED допускает от 0 до %1",
                        "Từ chối: cạnh màn hình LED chỉ cho phép từ 0 đến %1", "已拒絕：LED屏邊緣只允許0至%1")
            .arg(largest);
    case RefusalNote::Bound::Field:
        break;
    }
    return langText("已拒绝：此项只允许0至%1", "Refused: this field takes 0 to %1", "Отказ: поле допускает от 0 до %1",
                    "Từ chối: ô này chỉ cho phép từ 0 đến %1", "已拒絕：此項只允許0至%1")
        .arg(largest);
}

const char* boundLog(RefusalNote::Bound bound) {
    switch (bound) {
    case RefusalNote::Bound::Grid: return "the grid leaves";
    case RefusalNote::Bound::LedEdge: return "the LED screen's edge leaves";
    case RefusalNote::Bound::Field: break;
    }
    return "the field holds";
}

}  // namespace

RefusalNote::RefusalNote(QWidget* parent, const QRect& geometry)
    : label_(panel_style::makeRefusedLabel(parent, geometry)) {}

int RefusalNote::digitsFor(uint32_t largest) { return int(QString::number(largest).size()); }

bool RefusalNote::take(const QString& text, uint32_t largest, Bound bound, const char* field, uint32_t* value) {
    bool ok = false;
    const qulonglong v = text.toULongLong(&ok, 10);
    if (ok && v <= largest) {
        *value = uint32_t(v);
        hide();
        return true;
    }
    writeLogMsg(LOG_WARNING, std::string(field) + " " + text.left(24).toStdString() + " refused, " + boundLog(bound) +
                                 " 0 to " + std::to_string(largest));
    show([bound, largest] { return boundText(bound, largest); });
    return false;
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
