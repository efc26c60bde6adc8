#pragma once
// Test patterns (focus 16): a tap on one of eight pictures puts that pattern of the scaler on
// the LED screen at once (RAM 0x360 = 1..8), Close turns it off (0). Back leaves the pattern on.
#include <QDialog>
#include <QPointer>

#include <cstdint>

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
    static void writePattern(uint8_t value);

    Ui::test_chart* ui;
    uint8_t selected_ = kNone;
};

extern QPointer<test_chart> g_test_chart;
