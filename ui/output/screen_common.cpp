#include "ui/output/screen_common.h"

#include <QDialog>
#include <QPushButton>

#include "core/global.h"
#include "ui/shell/option.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/shell_globals.h"

namespace output_ui {

void closeToSettings(QDialog* screen) {
    screen->setAttribute(Qt::WA_DeleteOnClose);
    screen->close();
    if (g_option) g_option->language_changed();
    g_page_focus = 5;
}

void setFontPx(QWidget* widget, int px) { widget->setFont(panel_style::panelFont(px)); }

void framed(QPushButton* button, bool highlighted) {
    panel_style::setLook(button, QString::fromLatin1(highlighted ? panel_style::kFramedOnStyle
                                                                 : panel_style::kFramedOffStyle));
}

void tab(QPushButton* button, bool highlighted) {
    panel_style::setLook(button,
                         QString::fromLatin1(highlighted ? panel_style::kTabOnStyle : panel_style::kTabOffStyle));
}

}  // namespace output_ui
