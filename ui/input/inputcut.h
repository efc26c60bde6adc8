#pragma once
// Input crop (focus 7): the crop presets of the six inputs. For the chosen input it lists
// the input and its crops as tiles; a crop is added, edited or deleted in the editor below.
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
class InputCut;
}

class InputCut : public QDialog {
    Q_OBJECT

public:
    static constexpr int kTilesPerPage = 6;

    explicit InputCut(QWidget* parent = nullptr);
    ~InputCut() override;

    void syncUpdate(int code);
    void language_changed();

    uint8_t currentType() const { return current_type_; }
    uint8_t currentPage() const { return current_page_; }
    bool editorOpen() const;

public slots:
    void on_Button_back_clicked();
    void vlx_button_input_clicked();
    void vlx_button_source_clicked();
    void vlx_button_add_clicked();
    void vlx_Button_previous_clicked();
    void vlx_Button_next_clicked();
    void vlx_button_cancel_clicked();
    void vlx_button_ok_clicked();
    void vlx_button_delete_clicked();
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString value);

private:
    void input_init();
    void source_init();
    void crop_source_num_update();
    void para_changed_over();
    QString keypadTitle(const QString& field) const;
    // What a crop field may take now: its partner edge and the largest input picture bound it.
    RefusalNote::Range rangeOf(const QLineEdit* f) const;

    Ui::InputCut* ui;
    QFrame* marker_ = nullptr;
    QFrame* tile_area_ = nullptr;
    QPushButton* add_button_ = nullptr;
    QString type_name_ = QStringLiteral("HDMI1");
    QFont tile_font_;
    uint8_t current_page_ = 0;
    uint8_t last_page_ = 0;
    uint8_t current_type_ = 2;
    uint8_t edited_number_ = 0;
    uint8_t new_crop_ = 0;
    QPushButton* button_cancel_ = nullptr;
    QPushButton* button_ok_ = nullptr;
    QPushButton* button_delete_ = nullptr;
    bool closing_ = false;
    // A crop edge or size the input's picture cannot hold, refused with the range it leaves.
    std::unique_ptr<RefusalNote> refused_;
};
