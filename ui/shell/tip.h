#pragma once
// Shared pop-up of the front panel (g_tip): the done mark and the USB messages.
// It floats over whatever screen is in front without taking the touch focus. The
// 10 ms tick hides the done mark 300 ticks after it was shown; a USB message stays
// until another pop-up replaces it or type 2 clears it.
#include <QWidget>

#include <cstdint>

class QLabel;

class TIP : public QWidget {
    Q_OBJECT

public:
    enum Type : int {
        kDone = 1,          // check mark
        kClear = 2,         // clear the pop-up, show nothing
        kUsbConnected = 3,
        kUsbUnplugged = 4,
        kReadingData = 5,
    };
    static constexpr uint32_t kShowTicks = 300;

    explicit TIP(QWidget* parent = nullptr);

    // Fills and shows the pop-up by type; an unknown type is logged and changes nothing.
    void tip_create(int type);
    // Called by the 10 ms tick: hides the done mark once it has been up for kShowTicks.
    void tick();

    int currentType() const { return type_; }  // 0 when nothing is shown
    QString text() const;
    bool markShown() const;

private:
    QLabel* icon_;
    QLabel* text_;
    int type_ = 0;
    uint32_t shownAt_ = 0;
};
