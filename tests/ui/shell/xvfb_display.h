#pragma once
// A private X server (Xvfb) for the tests that need a real one: window stacking, activation
// and what is really on the display, which the offscreen platform does not model.
#include <sys/types.h>

#include <string>

namespace shelltest {

class XvfbDisplay {
public:
    // Starts Xvfb on a free display number with one screen of `width` x `height`;
    // running() is false where Xvfb is not installed or does not start.
    XvfbDisplay(int width, int height);
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    bool running() const { return pid_ > 0 && !name_.empty(); }
    const std::string& name() const { return name_; }  // ":N", for DISPLAY
    // Why it is not running.
    const std::string& error() const { return error_; }

    static bool installed();

private:
    pid_t pid_ = -1;
    std::string name_;
    std::string error_;
};

}  // namespace shelltest
