#pragma once
// Status screen: in front at start-up and after the idle auto-lock. It shows the
// inputs with their signal, the user mode and the device address; a touch anywhere
// brings the home screen, or the screen the lock covered when that one is still open.
// It is modal: it lies over any screen still running and must get the touch itself.
#include <QWidget>

#include <cstdint>

class QFrame;

namespace Ui {
class LockWindow;
}

class LockWindow : public QWidget {
    Q_OBJECT

public:
    explicit LockWindow(QWidget* parent = nullptr);
    ~LockWindow() override;

    void language_changed();
    void syncUpdate();
    // The touch: closes this screen and puts the home screen in front (focus 1).
    void enterHome();
    // Focus of the screen this one was shown over (the auto-lock).
    void setCoveredFocus(uint8_t focus) { covered_focus_ = focus; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void buildInputs();
    void refreshInfo();

    Ui::LockWindow* ui;
    QFrame* input_frame_ = nullptr;
    bool leaving_ = false;
    uint8_t covered_focus_ = 1;
};
