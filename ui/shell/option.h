#pragma once
// Settings menu (focus 5): one tile per settings screen. Each tile creates its screen
// with no parent, stores it in the screen's g_ pointer, sets the focus and runs it.
#include <QDialog>
#include <QString>

namespace Ui {
class Option;
}

class Option : public QDialog {
    Q_OBJECT

public:
    explicit Option(QWidget* parent = nullptr);
    ~Option() override;

    void language_changed();
    void syncUpdate();
    // True while the keypad was asked for the layout access code and has not answered.
    bool awaitingLayoutCode() const { return awaiting_code_; }

public slots:
    void on_Button_back_clicked();
    void on_output_set_clicked();
    void on_input_cut_clicked();
    void on_image_layout_clicked();
    void on_link_set_clicked();
    void on_image_quality_clicked();
    void on_AdvanceButton_clicked();
    void on_test_chart_clicked();
    void on_smart_mapping_clicked();
    void confirmString(QString value);

signals:
    // A tile (or the access code) asked for the screen with this focus number.
    void sig_open_screen(int focus);

private:
    // The layout screen is protected when an access code is configured ("No" = none).
    static bool layoutCodeRequired();
    void openImageLayout();
    void openScreen(const char* name, int focus);

    Ui::Option* ui;
    bool awaiting_code_ = false;
    bool closing_ = false;
};
