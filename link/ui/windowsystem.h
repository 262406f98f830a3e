#pragma once

class QWidget;

namespace ombrix {

// Keeps a top-level window off the taskbar. Windows does so for any Qt::Tool
// window; X11 desktops need _NET_WM_STATE_SKIP_TASKBAR, which Qt leaves out,
// so it is added each time the window is about to be mapped. Call once,
// before the window is shown.
void keepOffTaskbar(QWidget *window);

// Centres the whole window, frame included, on its screen when it is first
// shown. Where the frame is known only once the window is on screen (an X11
// window manager's, the visible one under DWM), centres it once more then;
// never after that, so a window the operator has moved stays where it is.
// Call once, before the window is shown.
void centreWhenShown(QWidget *window);

} // namespace ombrix
