#pragma once
// Picture quality (focus 11): brightness, sharpness, contrast and saturation on the first
// page, the colour-temperature type and the red, green and blue gains on the second; Reset
// restores the factory values. Every change goes straight into RAM 0x880..0x88F.
#include <QDialog>
#include <QPointer>

#include <array>

class QLabel;
class QPushButton;
class QSlider;

namespace Ui {
class ImageQuality;
}

class ImageQuality : public QDialog {
    Q_OBJECT

public:
    explicit ImageQuality(QWidget* parent = nullptr);
    ~ImageQuality() override;

    void para_init();
    void language_changed();
    void combox_language_change();
    void syncUpdate();

public slots:
    void on_Button_back_clicked();
    void on_Button_quality_clicked();
    void on_Button_temperature_clicked();
    void on_comboBox_currentIndexChanged(int index);
    void on_Button_reset_clicked();

private:
    // One slider parameter: its RAM field, its range and its widgets.
    struct Row {
        unsigned address;
        int maximum;
        QSlider* slider;
        QLabel* value;
        QPushButton* add;
        QPushButton* reduce;
    };
    void connectRow(const Row& row);
    void step(const Row& row, int delta);
    static void store(unsigned address, int value);
    void selectTab(QPushButton* tab, int page);

    Ui::ImageQuality* ui;
    QPushButton* selected_tab_ = nullptr;
    std::array<Row, 7> rows_;
};

extern QPointer<ImageQuality> g_imagequality;   // GUI thread only
