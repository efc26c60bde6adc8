#pragma once
// The panel's windows as the user sees them: which lies over which, which one a finger reaches,
// and the whole panel as one picture. Screens, the keypad, pop-ups and open lists are separate
// top-level windows; without a window manager (the LCD, the offscreen platform) nothing else
// knows their order, so the order they were shown and raised in is followed here.
// GUI thread only.
#include <QImage>
#include <QList>
#include <QPoint>

#include <cstdint>

class QWidget;

namespace panel_stack {

// Starts following the order the windows are shown and raised in; once per application
// (every window placed on the panel calls it).
void follow();
// The visible top-level windows, the bottom one first: shown or raised later lies higher, a
// stays-on-top window (the done mark) over the others, an open list over everything.
QList<QWidget*> visibleWindows();
// The top-most visible window at a display point that takes touches; one that lets them
// through (the done mark) is passed over. Null when none covers the point.
QWidget* inputWindowAt(const QPoint& global);
// Events the GUI thread has delivered since the order was first followed (wrapping): a thread
// waiting on the GUI thread tells a busy event loop, whose count moves, from a stuck one. Any thread.
uint32_t eventsDelivered();
// The panel's 800 x 480 as the user sees it: every visible window drawn at its place, in
// stacking order.
QImage compose();

}  // namespace panel_stack
