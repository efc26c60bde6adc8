#include "ui/shell/firmwareupdate.h"

#include <QLabel>

#include "ui/shell/panel_style.h"
#include "ui_firmwareupdate.h"

using panel_style::langText;

FirmwareUpdate::FirmwareUpdate(QWidget* parent) : QWidget(parent), ui(new Ui::FirmwareUpdate) {
    ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    panel_style::prepareScreen(this);
    ui->label_title->setFont(panel_style::panelFont(34));
    ui->label_anim->setFont(panel_style::panelFont(34));
    ui->label_hint->setFont(panel_style::panelFont(22));
    ui->label_anim->setTextFormat(Qt::RichText);
    language_changed();
    drawStep();
}

FirmwareUpdate::~FirmwareUpdate() { delete ui; }

void FirmwareUpdate::language_changed() {
    ui->label_title->setText(langText("固件升级中...", "Updating firmware...", "Обновление прошивки...",
                                      "Đang cập nhật firmware...", "固件升級中..."));
    ui->label_hint->setText(langText("请勿断电或拔出U盘", "Do not switch off or remove the USB drive",
                                     "Не выключайте питание и не извлекайте USB-накопитель",
                                     "Không tắt nguồn hoặc rút USB", "請勿斷電或拔出U盤"));
}

void FirmwareUpdate::tick() {
    if (++ticks_ < kTicksPerStep) return;
    ticks_ = 0;
    step_ = (step_ + 1) % kSteps;
    drawStep();
}

void FirmwareUpdate::drawStep() {
    QString dots;
    for (int i = 0; i < kSteps; ++i) {
        if (i) dots += QStringLiteral("&nbsp;&nbsp;");
        dots += QStringLiteral("<font color = %1 >&#9679;</font>")
                    .arg(i == step_ ? QStringLiteral("#4777FF") : QStringLiteral("#212435"));
    }
    ui->label_anim->setText(dots);
}
