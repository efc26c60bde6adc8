#pragma once
// Output settings (focus 6): how the LED picture is split over OUT1 and OUT2, and the
// position and size of the 32 Ethernet output ports as the FPGAs hold them.
//
// The LED size is shown, not edited. Apply writes the splice code, LED size and both outputs'
// geometry into the parameter RAM; a new size or splice code also puts window 0 over the
// whole LED screen, turns the other windows off and starts the LED set-up hand-shake with
// the FPGA engine (only while both FPGAs run).
#include <QDialog>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

#include "ui/shell/refusal_note.h"

class QFrame;
class QLineEdit;
class QPushButton;

namespace Ui {
class OutputSet;
}

class OutputSet : public QDialog {
    Q_OBJECT

public:
    explicit OutputSet(QWidget* parent = nullptr);
    ~OutputSet() override;

    void syncUpdate();
    void language_changed();

    int spliceCode() const { return splice_code_; }
    int portGroup() const { return port_group_; }
    int portTile() const { return port_tile_; }

public slots:
    void on_Button_back_clicked();
    void on_Button_ledset_clicked();
    void on_Button_lanset_clicked();
    void on_Button_apply1_clicked();
    void on_Button_cancel1_clicked();
    void on_Button_apply2_clicked();
    void on_Button_cancel2_clicked();
    void on_Button_wlan1_clicked();
    void on_Button_wlan2_clicked();
    void on_Button_wlan3_clicked();
    void on_Button_wlan4_clicked();
    void on_comboBox_currentIndexChanged(int index);
    void show_numberkeyboard_ui(QString text);
    void confirmString(QString value);
    void vlx_button_wlan_clicked();

private:
    void para_init();
    void out_label_changed(int index);
    void combox_language_change();
    void wlan_init();
    void wlan_para_get(unsigned short port);
    void chooseGroup(int group, QPushButton* button);
    void highlight(QPushButton*& holder, QPushButton* pressed);
    void showComboIndex(int index);
    int fieldValue(const QLineEdit* field) const;
    // What the OUT1 width or height field may take under the splice and LED size shown.
    RefusalNote::Range rangeOf(const QLineEdit* field) const;

    Ui::OutputSet* ui;
    QFrame* tile_container_ = nullptr;
    QFrame* tiles_[8] = {};
    QString edited_field_;
    // An OUT1 size the splice cannot take, refused with the range it leaves.
    std::unique_ptr<RefusalNote> refused_;
    uint8_t port_group_ = 0;
    uint8_t splice_code_ = 0;
    uint8_t port_tile_ = 0;
    QPushButton* set_focus_ = nullptr;
    QPushButton* apply_focus1_ = nullptr;
    QPushButton* apply_focus2_ = nullptr;
    QPushButton* wlan_focus_ = nullptr;
};

extern QPointer<OutputSet> g_outputset;   // GUI thread only
