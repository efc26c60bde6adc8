#include "ui/shell/screen_text.h"

#include <QFontMetrics>
#include <QWidget>

#include "core/alias.h"
#include "core/vlxrampara.h"
#include "ui/shell/panel_style.h"

using panel_style::langText;

namespace screen_text {

namespace {
QString elided(const std::string& name, QWidget* widget, int width) {
    const QString text = QString::fromStdString(name);
    if (!widget) return text;
    panel_style::markElides(widget);
    return QFontMetrics(widget->font()).elidedText(text, Qt::ElideRight, width, Qt::TextShowMnemonic);
}
}  // namespace

Timing inputTiming(int port) {
    Timing t;
    VlxRamPara* ram = VlxRamPara::p_vlxrampara_config;
    if (!ram || port < 0 || port >= vlxram::kInputs) return t;
    // the receivers' threads write the timings under the RAM's timing lock
    unsigned char b[vlxram::kInputTimingSize];
    ram->copyInputTiming(port, b);
    t.width = VlxRamPara::getU16(b, 0);
    t.height = VlxRamPara::getU16(b, 2);
    t.rate = b[4];
    return t;
}

QString timingText(const Timing& t) {
    if (!t.present()) return noSignal();
    return QStringLiteral("%1x%2@%3Hz").arg(t.width).arg(t.height).arg(t.rate);
}

QString cardTimingText(const Timing& t) {
    if (!t.present()) return noSignal();
    return QStringLiteral("%1x%2\n%3Hz").arg(t.width).arg(t.height).arg(t.rate);
}

QString portName(int port) {
    switch (port) {
    case 0: return QStringLiteral("EXT");
    case 1: return QStringLiteral("DVI");
    default: return QStringLiteral("HDMI%1").arg(port - 1);
    }
}

QString inputName(int port, QWidget* widget, int width) {
    ALIAS_PARA alias;
    if (get_json_alias_para(&alias, "source", port) == 1) return elided(alias.name, widget, width);
    return portName(port);
}

QString userModeName(int slot, QWidget* widget, int width) {
    ALIAS_PARA alias;
    if (get_json_alias_para(&alias, "usermode", slot) == 1) return elided(alias.name, widget, width);
    return langText("模式%1", "Mode %1", "Режим %1", "Chế độ %1", "模式%1").arg(slot + 1);
}

QString currentModeText(QWidget* label) {
    const int mode = VlxRamPara::p_vlxrampara_config ? VlxRamPara::VlxGetCurrentModeIndex() : 0;
    const QString prefix = modePrefix();
    if (!mode) return prefix + none();
    const int room = label->contentsRect().width() - QFontMetrics(label->font()).horizontalAdvance(prefix);
    return prefix + userModeName(mode - 1, label, room);
}

QString noSignal() { return langText("无信号", "No signal", "Нет сигнала", "Không tín hiệu", "無信號"); }

QString none() { return langText("无", "None", "Нет", "Không", "無"); }

QString modePrefix() {
    return langText("当前模式:", "Current mode:", "Текущий режим:", "Chế độ hiện tại:", "當前模式:");
}

}  // namespace screen_text
