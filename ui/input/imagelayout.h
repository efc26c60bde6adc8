#pragma once
// Window layout (focus 9): the six windows of the scaler on the LED screen. A tap on a tile
// chooses the window the panel below shows and edits: on/off, source, position and size,
// mirror and point-to-point mode.
#include <QDialog>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

#include "ui/shell/refusal_note.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace Ui {
class ImageLayout;
}

class ImageLayout : public QDialog {
    Q_OBJECT

public:
    explicit ImageLayout(QWidget* parent = nullptr);
    ~ImageLayout() override;

    void syncUpdate();
    void language_changed();
    void image_para_update();
    void image_init();

    uint8_t imageIndex() const { return image_index_; }

public slots:
    void on_button_state_clicked();
    void on_mirror1_clicked();
    void on_mirror2_clicked();
    void on_mirror3_clicked();
    void on_mirror4_clicked();
    void on_comboBox_currentIndexChanged(int index);
    void on_Button_cancel_clicked();
    void on_Button_ok_clicked();
    void on_Button_source_select_clicked();
    void on_comboBox_P2P_currentIndexChanged(int index);
    void vlx_image_button_clicked();
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString value);
    void on_Button_back_clicked();

private:
    void TextCreate(int window);
    void mirror_select(int mode);
    void setMirror(int mode);
    void showState(bool on);
    // What a position or size field may take now: its partner edge and the LED screen bound it.
    RefusalNote::Range rangeOf(const QLineEdit* f) const;
    unsigned field(unsigned offset) const;
    void moveHighlight(QPushButton* to);

    Ui::ImageLayout* ui;
    uint8_t state_on_ = 1;
    uint8_t image_index_ = 0;
    QFrame* image_frame_ = nullptr;
    QFrame* select_frame_ = nullptr;
    QPointer<QLabel> image_label_[6];
    QPushButton* focus_button_ = nullptr;
    QString image_text_;
    bool closing_ = false;
    // A position or size the window cannot take, refused with the range it leaves.
    std::unique_ptr<RefusalNote> refused_;
};
