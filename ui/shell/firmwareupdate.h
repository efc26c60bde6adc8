#pragma once
// Full-screen display while new firmware is written: nothing else may be touched and
// the power must stay on. The 10 ms tick moves its animation.
#include <QWidget>

class QLabel;

namespace Ui {
class FirmwareUpdate;
}

class FirmwareUpdate : public QWidget {
    Q_OBJECT

public:
    // One animation step every 25 ticks (a quarter second), eight steps a turn.
    static constexpr int kTicksPerStep = 25;
    static constexpr int kSteps = 8;

    explicit FirmwareUpdate(QWidget* parent = nullptr);
    ~FirmwareUpdate() override;

    void language_changed();
    void tick();
    int step() const { return step_; }

private:
    void drawStep();

    Ui::FirmwareUpdate* ui;
    int ticks_ = 0;
    int step_ = 0;
};
