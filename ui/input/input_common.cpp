#include "ui/input/input_common.h"

#include <QFontMetrics>
#include <QFont>
#include <QLabel>

#include <algorithm>

#include "core/vlxrampara.h"
#include "ui/input/input_screens.h"
#include "ui/shell/panel_style.h"

QPointer<InputChoose> g_inputchoose;
QPointer<InputCut> g_inputcut;
QPointer<EDIDset> g_edidset;
QPointer<ImageLayout> g_imagelayout;
QPointer<CustomMode> g_custommode;

namespace input_common {

int columnOfType(int type) {
    for (int c = 0; c < kTypes; ++c)
        if (kTypeOfColumn[c] == type) return c;
    return -1;
}

QString sourceName(int type) {
    switch (type) {
    case 0: return QStringLiteral("EXT");
    case 1: return QStringLiteral("DVI");
    case 2:
    case 3:
    case 4:
    case 5: return QStringLiteral("HDMI%1").arg(type - 1);
    default: return QString();
    }
}

QString windowTileStyle(int window) {
    static const char* const kColours[] = {"#867AE9", "#005A8D", "#39A9CB", "#EBA83A", "#FF96AD", "#D5E5FF"};
    if (window < 0 || window >= 6) return QString();
    return QStringLiteral("background-color: %1;font: 16px").arg(QLatin1String(kColours[window]));
}

int16_t toShort(const QString& text) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < -32768 || v > 32767) return 0;
    return int16_t(v);
}

bool toU32(const QString& text, uint32_t* value) {
    bool ok = false;
    const uint v = text.toUInt(&ok, 10);
    if (!ok) return false;
    *value = uint32_t(v);
    return true;
}

uint16_t ramWord(unsigned address) {
    const VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    return p && address + 1 < vlxram::kRamSize ? p->ramU16(address) : 0;
}

uint16_t shadowWord(unsigned address) {
    const VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    return p && address + 1 < vlxram::kRamSize ? p->shadowU16(address) : 0;
}

int cropNumberOfEntry(int index) {
    if (index < 0 || index >= vlxram::kCropEntries) return 0;
    const uint16_t key = ramWord(vlxram::kCropTable + vlxram::kCropEntrySize * unsigned(index));
    if (!(key & vlxram::kCropInUse)) return 0;
    return ((key >> 8) & 0x7F) + 1;
}

int cropTypeOfEntry(int index) {
    if (!cropNumberOfEntry(index)) return -1;
    const int type = ramWord(vlxram::kCropTable + vlxram::kCropEntrySize * unsigned(index)) & 0xFF;
    return type < kTypes ? type : -1;
}

void fitToText(QLabel* label, const QRect& geometry, int minX, int margin) {
    const int need = QFontMetrics(label->font()).horizontalAdvance(label->text()) + margin;
    QRect r = geometry;
    if (need > r.width()) {
        const int right = r.right();
        r.setLeft(std::max(minX, right + 1 - need));
    }
    label->setGeometry(r);
}

}  // namespace input_common

namespace input_common {

using panel_style::langText;

QString noSignalText() { return langText("无信号", "No signal", "Нет сигнала", "Không có tín hiệu", "無信號"); }
// The Chinese badge ends with a soft hyphen, as the panel has always shown it.
QString usingText() {
    return langText("使用中\xC2\xAD", "Using", "Использовать", "sử dụng", "使用中\xC2\xAD");
}
QString cancelText() { return langText("取消", "Cancel", "Отмена", "Hủy bỏ", "取消"); }
QString deleteText() { return langText("删除", "Delete", "Удалить", "Xoá bỏ", "删除"); }
QString widthLabelText() { return langText("宽", "W", "Ширина", "Rộng", "寬"); }
QString heightLabelText() { return langText("高", "H", "Высота", "Cao", "高"); }
QString clearLook() { return QStringLiteral("background-color: transparent;border:0px;"); }

}  // namespace input_common

namespace input_common {

void pointsToPixels(QWidget* root) {
    QList<QWidget*> all = root->findChildren<QWidget*>();
    all.prepend(root);
    for (QWidget* w : all) {
        QFont f = w->font();
        if (f.pointSize() <= 0) continue;
        f.setPixelSize(f.pointSize());
        w->setFont(f);
    }
}

}  // namespace input_common
