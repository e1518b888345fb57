#pragma once

class QWidget;

namespace window {

// Where Qt would draw a window's title bar itself, gives the window one of the program's own
// instead: Qt's bars offer a maximize button, which on these fixed windows only moves them. Ours
// shows the title, Minimize on the main window, and Close (which closes as the close box does);
// dragging it moves the window. Where the desktop draws the bar, this changes nothing. Call
// before the window is first shown.
void giveOwnTitleBarWhereQtWouldDrawOne(QWidget& window);

} // namespace window
