#pragma once
// Front-panel objects shared by the screens: GUI thread only, like every widget. Widgets die
// with their parent dialog, so every pointer here is a QPointer: a deleted widget reads as null.
#include <QPointer>

#include <cstdint>

class QLineEdit;
class NumberKeyboard;
class TIP;
class QRoundProgressBar;

extern QPointer<NumberKeyboard> g_numberkeyboard;
extern QPointer<QLineEdit> g_lineedit;
extern QPointer<TIP> g_tip;
extern QPointer<QRoundProgressBar> g_qround_bar;

// Shell screens: the home screen, the status screen, the machine state and the settings menu.
class MainWindow;
class LockWindow;
class MachineState;
class Option;
extern QPointer<MainWindow> g_mainwindow;
extern QPointer<LockWindow> g_lockwindow;
extern QPointer<MachineState> g_machinestate;
extern QPointer<Option> g_option;
// User-mode slot (0..15) chosen last, by the home screen's mode panel or the user-mode screen.
extern uint8_t g_mode_select;
