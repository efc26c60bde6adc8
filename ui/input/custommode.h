#pragma once
// User modes (focus 4): the 16 saved copies of the settings. The list marks the mode in
// use; the panel shows the selected slot; Use recalls it into the RAM, Delete removes it.
#include <QDialog>
#include <QFont>

#include <cstdint>

class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QWidget;

namespace Ui {
class CustomMode;
}

class CustomMode : public QDialog {
    Q_OBJECT

public:
    explicit CustomMode(QWidget* parent = nullptr);
    ~CustomMode() override;

    void init();
    void lcd_para_init();
    void image_para_init();
    void color_fill(QLabel* label, char index);
    void language_changed();
    void syncUpdate();

public slots:
    void on_Button_delete_clicked();
    void on_Button_use_clicked();
    void vlx_button_mode_clicked();
    void on_Button_back_clicked();

private:
    void moveHighlight(QPushButton* to);

    Ui::CustomMode* ui;
    QScrollArea* mode_scroll_area_ = nullptr;
    QWidget* mode_list_widget_ = nullptr;
    QWidget* detail_widget_ = nullptr;
    QLabel* using_mark_ = nullptr;
    QFont list_font_;
    bool closing_ = false;
};

// Frames of the 16 list entries in slot order, and the highlighted action button (GUI thread).
extern QFrame* g_frame[16];
extern QPushButton* g_button_focus;
