#pragma once
// The input and layout screens as the shell, the change notification and each other
// reach them: null while the screen is closed.
#include <QPointer>

class InputChoose;
class InputCut;
class EDIDset;
class ImageLayout;
class CustomMode;

// The input screens: GUI thread only.
extern QPointer<InputChoose> g_inputchoose;
extern QPointer<InputCut> g_inputcut;
extern QPointer<EDIDset> g_edidset;
extern QPointer<ImageLayout> g_imagelayout;
extern QPointer<CustomMode> g_custommode;
