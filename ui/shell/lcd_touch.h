#pragma once
// Touch activity and the idle timeouts of the front panel.
//
// The touches themselves reach Qt through its own input support; this watcher only
// notes that the panel was touched (any event on /dev/input/event1), so that the tick
// can return to the home screen and lock the panel after a time without touches.
#include <QObject>
#include <QPointer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

// Reads the touch controller's input events through the platform layer.
class TouchEventSource {
public:
    explicit TouchEventSource(const char* device = "/dev/input/event1");
    ~TouchEventSource();
    bool open();
    bool isOpen() const { return fd_ >= 0; }
    void close();
    // Reads what is pending; the number of events that show a touch, -1 when the device failed.
    int readTouches();
    // Called with the panel position of every contact (BTN_TOUCH down).
    std::function<void(int x, int y)> onPress;

private:
    const char* device_;
    int fd_ = -1;
    int x_ = 0;
    int y_ = 0;
};

// Screens the idle return closes. The shell knows none of their classes: each screen points
// its entry at its own g_ pointer (registerScreen, from its constructor), and the back handler
// on_Button_back_clicked, a slot of every screen, is reached through the meta-object.
enum class IdleScreen {
    InputChoose, InputCut, EdidSet, ImageLayout, CustomMode, OutputSet,
    ImageQuality, LinkOption, AdvancedOption, SmartMapping, Count
};

class lcd_touch : public QObject {
    Q_OBJECT

public:
    // Untouched ticks stop counting here; after that nothing more happens until a touch.
    static constexpr uint32_t kCountLimit = 100001;
    // An auto-lock time of this many ticks means "never" and also stops the return home.
    static constexpr uint32_t kNeverLock = 120000;

    // Creates the watcher and starts its thread (start-up, once).
    static lcd_touch* pInstance();
    static lcd_touch* p_lcd_touch;   // set by start-up before the watcher's thread runs
    // The watcher without its thread: tests and boards without a touch controller.
    static lcd_touch* instanceWithoutThread();

    static void registerScreen(IdleScreen screen, std::function<QObject*()> live);
    static QObject* liveScreen(IdleScreen screen);

    // A touch: the idle count starts again.
    void touched() { untouched_.store(0); }
    uint32_t untouchedTicks() const { return untouched_.load(); }

    // The idle return, once per tick.
    void auto_timeout_back();

    // The simulated board has no touch driver under Qt: a contact fed on its touch device
    // is delivered here at panel position (x, y), on the GUI thread, as a finger gives it: the
    // pointer moves there, presses and releases.
    static void clickAt(int x, int y);

protected:
    // Clicks in the window of a PC run count as touches too.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    lcd_touch();
    void startThread();
    void run();
    void returnHome();
    void lockPanel();

    std::atomic<uint32_t> untouched_{0};   // atomic: a touch (watcher or GUI thread) zeroes it, the tick counts
    std::thread thread_;
};
