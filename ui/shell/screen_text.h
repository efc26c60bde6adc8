#pragma once
// Names and values that the shell screens show in the same words: inputs with their
// alias names and signal, user modes, and the fixed prefixes of the five languages.
#include <QString>

class QWidget;

namespace screen_text {

struct Timing {
    int width = 0;
    int height = 0;
    int rate = 0;
    // the receivers write zeros while an input has no signal
    bool present() const { return width != 0 && height != 0 && rate != 0; }
};

// Measured timing of input port 0..5 (EXT, DVI, HDMI1..4) from the parameter RAM.
Timing inputTiming(int port);
// "1920x1080@60Hz", or the no-signal text of the language.
QString timingText(const Timing& t);
// The same on two lines ("1920x1080" over "60Hz") for the narrow input cards.
QString cardTimingText(const Timing& t);
// Fixed name of the port: EXT, DVI, HDMI1..HDMI4.
QString portName(int port);
// Alias of the input ("source" list) elided to `width` pixels in `widget`'s font, else the port name.
// The widget is marked as one that elides on purpose.
QString inputName(int port, QWidget* widget, int width);
// Alias of user-mode slot 0..15 elided likewise, else the numbered default name.
QString userModeName(int slot, QWidget* widget, int width);

// "Current mode:" followed by the current user mode's name, the name elided to the room
// the prefix leaves in `label`.
QString currentModeText(QWidget* label);

QString noSignal();
QString none();
QString modePrefix();

}  // namespace screen_text
