#include "ui/input/input_common.h"

#include <QFontMetrics>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

#include "core/alias.h"
#include "core/vlxrampara.h"
#include "ui/input/input_screens.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/panel_style.h"
#include "ui/shell/shell_globals.h"

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
    return QStringLiteral("background-color: %1;color: %2;font: 16px")
        .arg(QLatin1String(kColours[window]), windowTextColour(window));
}

QString windowTextColour(int window) {
    // white reads on the five darker tiles; on window 6's pale blue it would not (about 1.3:1)
    return window == 5 ? QStringLiteral("#10101C") : QStringLiteral("#FFFFFF");
}

QString windowNameStyle(int window) {
    return QStringLiteral("background-color: transparent;color: %1;").arg(windowTextColour(window));
}

uint16_t ramWord(unsigned address) {
    const VlxRamPara* p = VlxRamPara::p_vlxrampara_config;
    return p && address + 1 < vlxram::kRamSize ? p->snapshotU16(address) : 0;
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
    panel_style::fitFont(label, geometry.right() + 1 - minX, margin);
    const int need = QFontMetrics(label->font()).horizontalAdvance(label->text()) + margin;
    QRect r = geometry;
    if (need > r.width()) r.setLeft(std::max(minX, geometry.right() + 1 - need));
    label->setGeometry(r);
}

}  // namespace input_common

namespace input_common {

using panel_style::langText;

QString noSignalText() { return langText("无信号", "No signal", "Нет сигнала", "Không có tín hiệu", "無信號"); }
QString usingText() { return langText("使用中", "Using", "Используется", "sử dụng", "使用中"); }
QString cancelText() { return langText("取消", "Cancel", "Отмена", "Hủy bỏ", "取消"); }
QString deleteText() { return langText("删除", "Delete", "Удалить", "Xoá bỏ", "刪除"); }
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
    // the title in the size every other screen draws its title in
    if (auto* title = root->findChild<QLabel*>(QStringLiteral("label_title"), Qt::FindDirectChildrenOnly))
        title->setFont(panel_style::panelFont(kTitlePixels));
}

}  // namespace input_common

namespace input_common {

void connectKeypad(QObject* screen, std::initializer_list<QLineEdit*> fields) {
    for (QLineEdit* field : fields)
        QObject::connect(field, SIGNAL(send_show(QString)), screen, SLOT(show_numberkeyboard_ui(QString)));
    if (g_numberkeyboard)
        QObject::connect(g_numberkeyboard, SIGNAL(sendKeyBoardUIDataToLineEdit(QString)), screen,
                         SLOT(confirmString(QString)));
}

void openKeypad(QLineEdit* field, const QString& title, const QString& value, int maxDigits) {
    if (!field || !g_numberkeyboard) return;
    QPointer<QLineEdit> asked(field);
    g_numberkeyboard->ask(field, title, value, [asked] { g_lineedit = asked; }, {}, maxDigits);
}

bool keypadFieldIn(std::initializer_list<const QLineEdit*> fields) {
    const QLineEdit* asked = g_lineedit.data();
    if (!asked) return false;
    for (const QLineEdit* f : fields)
        if (f == asked) return true;
    return false;
}

void setInputIcons(QLabel* hdmi1, QLabel* hdmi2, QLabel* hdmi3, QLabel* hdmi4, QLabel* dvi, QLabel* ext) {
    panel_style::setPicture(hdmi1, QStringLiteral(":/png/HDMI13.png"));
    panel_style::setPicture(hdmi2, QStringLiteral(":/png/HDMI13.png"));
    panel_style::setPicture(hdmi3, QStringLiteral(":/png/HDMI20.png"));
    panel_style::setPicture(hdmi4, QStringLiteral(":/png/HDMI20.png"));
    panel_style::setPicture(dvi, QStringLiteral(":/png/DVI.png"));
    panel_style::setPicture(ext, QStringLiteral(":/png/HDMI.png"));
}

EditorButtons makeEditorButtons(QWidget* screen, const QString& okName) {
    const QString look = QStringLiteral("color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);font:20px");
    EditorButtons b;
    b.cancel = panel_style::makeButton(screen, QStringLiteral("button_cancel"), QRect(310, 406, 180, 60), look);
    b.ok = panel_style::makeButton(screen, okName, QRect(540, 406, 180, 60), look);
    b.remove = panel_style::makeButton(screen, QStringLiteral("button_delete"), QRect(80, 406, 180, 60), look);
    for (QPushButton* button : {b.cancel, b.ok, b.remove}) {
        button->setFlat(false);
        button->hide();
    }
    return b;
}

std::vector<QPushButton*> makeInputButtons(QWidget* screen) {
    std::vector<QPushButton*> buttons;
    for (int k = 0; k < kTypes; ++k)
        buttons.push_back(
            panel_style::makeButton(screen, QString::number(k), QRect(21 + 130 * k, 69, 118, 83), clearLook()));
    return buttons;
}

void cropTileTexts(QLabel* name, QLabel* info, int type, int n, const QString& typeName, int width) {
    CROP_PARA crop;
    int index = vlxram::kCropEntries;
    VlxRamPara::VlxGetCropPara(type, n, &crop, &index);
    ALIAS_PARA alias;
    if (index < vlxram::kCropEntries && get_json_alias_para(&alias, "crop", index) == 1) {
        panel_style::markElides(name);
        name->setText(QFontMetrics(name->font())
                          .elidedText(QString::fromStdString(alias.name), Qt::ElideRight, width, Qt::TextShowMnemonic));
    } else {
        name->setText(typeName + QStringLiteral("_crop%1").arg(((crop.key >> 8) & 0x7F) + 1));
    }
    info->setText(QStringLiteral("%1x%2").arg(crop.width).arg(crop.height));
}

PageButtons makePageButtons(QWidget* area, int page, int lastPage, int previousY, int nextY) {
    PageButtons b;
    if (page != 0) {
        b.previous = panel_style::makeButton(area, QStringLiteral("button_previous"), QRect(715, previousY, 50, 50),
                                             clearLook());
        panel_style::setIcon(b.previous, QStringLiteral(":/png/previous.png"), QSize(50, 50));
    }
    if (page < lastPage) {
        b.next = panel_style::makeButton(area, QStringLiteral("button_next"), QRect(715, nextY, 50, 50), clearLook());
        panel_style::setIcon(b.next, QStringLiteral(":/png/next.png"), QSize(50, 50));
    }
    return b;
}

}  // namespace input_common
