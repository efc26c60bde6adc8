#include "ui/shell/shell_globals.h"

#include <QLineEdit>

#include "ui/shell/QRoundProgressBar.h"
#include "ui/shell/lockwindow.h"
#include "ui/shell/machinestate.h"
#include "ui/shell/mainwindow.h"
#include "ui/shell/numberkeyboard.h"
#include "ui/shell/option.h"
#include "ui/shell/tip.h"

QPointer<NumberKeyboard> g_numberkeyboard;
QPointer<QLineEdit> g_lineedit;
QPointer<TIP> g_tip;
QPointer<QRoundProgressBar> g_qround_bar;

QPointer<MainWindow> g_mainwindow;
QPointer<LockWindow> g_lockwindow;
QPointer<MachineState> g_machinestate;
QPointer<Option> g_option;
uint8_t g_mode_select = 0;
