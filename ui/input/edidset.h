#pragma once
// EDID settings (focus 8): the resolution and refresh rate each input announces in its EDID.
#include <QDialog>
#include <QFont>
#include <QString>

#include <cstdint>
#include <memory>

#include "ui/shell/refusal_note.h"

class QFrame;
class QLineEdit;
class QPushButton;

namespace Ui {
class EDIDset;
}

class EDIDset : public QDialog {
    Q_OBJECT

public:
    explicit EDIDset(QWidget* parent = nullptr);
    ~EDIDset() override;

    void syncUpdate();
    void language_changed();

    uint8_t inputIndex() const { return input_index_; }
    bool editorOpen() const;

public slots:
    void on_Button_left_clicked();
    void on_Button_right_clicked();
    void vlx_button_input_clicked();
    void vlx_button_source_clicked();
    void vlx_button_cancel_clicked();
    void vlx_button_ok_clicked();
    void vlx_button_delete_clicked();
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString value);
    void on_Button_back_clicked();

private:
    void input_init();
    void source_init();
    void closeEditor();
    // Whether the input can offer the timing; if not, the reason is on screen and in the log.
    bool timingOffered(int width, int height, int rate);
    int shownRate() const;
    // A width or height the inputs can carry at all.
    static RefusalNote::Range fieldRange();
    void toggleRate();

    Ui::EDIDset* ui;
    uint8_t input_index_ = 2;
    uint8_t edid_rate_ = 60;
    bool rate_toggled_ = false;
    QString input_name_ = QStringLiteral("HDMI1");
    QFrame* select_frame_ = nullptr;
    QFrame* frame_source_ = nullptr;
    QFont tile_font_;
    QPushButton* button_cancel_ = nullptr;
    QPushButton* button_save_ = nullptr;
    QPushButton* button_delete_ = nullptr;
    bool closing_ = false;
    // A size or timing the input cannot offer, refused with the range or the timing.
    std::unique_ptr<RefusalNote> refused_;
};
