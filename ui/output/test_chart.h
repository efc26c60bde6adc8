#pragma once
// Test patterns (focus 16): a tap on one of eight pictures puts that pattern of the scaler on
// the LED screen at once (RAM 0x360 = 1..8), Close turns it off (0). Back leaves the pattern on.
#include <QDialog>
#include <QPointer>

#include <cstdint>

class QLabel;
class QTimer;

namespace Ui {
class test_chart;
}

class test_chart : public QDialog {
    Q_OBJECT

public:
    static constexpr uint8_t kNone = 102;

    explicit test_chart(QWidget* parent = nullptr);
    ~test_chart() override;

    void language_changed();
    // Index 0..7 of the marked picture, kNone when none.
    uint8_t selectedPattern() const { return selected_; }

public slots:
    void on_Button_back_clicked();
    void on_Button_closetest_clicked();
    void vlx_image_button_clicked();

private:
    void testimage_button_init();
    void para_init();
    void mark(uint8_t index, bool on);
    void writePattern(uint8_t value);
    void followScaler();

    Ui::test_chart* ui;
    uint8_t selected_ = kNone;
    // The scaler refuses a pattern while more than one window is shown and puts RAM 0x360
    // back: after a write the screen follows the RAM once the manager's pass is over.
    QTimer* follow_ = nullptr;
    QLabel* refused_ = nullptr;
    uint8_t asked_ = 0;
    int waited_ = 0;
};

extern QPointer<test_chart> g_test_chart;   // GUI thread only
