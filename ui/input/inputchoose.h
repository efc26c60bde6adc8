#pragma once
// Input choice (focus 3): what each of the six windows shows, an input whole or one of its
// crop presets. A tap on a tile assigns it to the current window at once.
#include <QDialog>
#include <QPointer>
#include <QString>

#include <cstdint>

#include "ui/shell/screen_text.h"

class QFrame;
class QLabel;
class QPushButton;

namespace Ui {
class InputChoose;
}

class InputChoose : public QDialog {
    Q_OBJECT

public:
    static constexpr int kTilesPerPage = 6;

    explicit InputChoose(QWidget* parent = nullptr);
    ~InputChoose() override;

    void syncUpdate(int code);
    void language_changed();
    void initSource();
    void crop_source_num_update();
    // Names every window of the strip after its source word as the RAM holds it now.
    void window_names_update();

    uint8_t currentWindow() const { return current_window_; }
    uint8_t currentType() const { return current_type_; }
    uint8_t currentPage() const { return current_page_; }

public slots:
    void on_Button_HDMI1_clicked();
    void on_Button_HDMI2_clicked();
    void on_Button_HDMI3_clicked();
    void on_Button_HDMI4_clicked();
    void on_Button_DVI_clicked();
    void on_Button_EXT_clicked();
    void on_Button_back_clicked();
    void vlx_source_button_clicked();
    void vlx_image_button_clicked();
    void vlx_Button_menu_clicked();
    void vlx_Button_previous_clicked();
    void vlx_Button_next_clicked();
    void vlx_button_inputcut_clicked();
    void vlx_button_EDID_clicked();

private:
    void initMenu();
    void image_select();
    void chooseType(int type);
    QString TextCreate(int window) const;
    void input_source_changed(int window);
    void source_name_update();
    void source_check_update();
    // Crop number the window shows (1..40) and its input; 0 for a whole input.
    int windowCropNumber(int window, int* type) const;

    Ui::InputChoose* ui;
    uint8_t current_window_ = 0;
    uint8_t current_type_ = 2;
    uint8_t current_page_ = 0;
    uint8_t last_page_ = 0;
    QString type_name_ = QStringLiteral("HDMI1");
    QPushButton* menu_inputcut_ = nullptr;
    QPushButton* menu_edid_ = nullptr;
    QFrame* strip_ = nullptr;
    QFrame* marker_ = nullptr;
    // Name label of each window tile; null for a window the strip does not list.
    QPointer<QLabel> window_name_[6];
    QFrame* tile_area_ = nullptr;
    // Timing of each port as its icon shows it, and of the input tile: the shadow copy takes
    // the timing only with a save, so a signal lost and found again is compared with this.
    screen_text::Timing icon_timing_[6];
    screen_text::Timing tile_timing_;
    bool closing_ = false;
};
