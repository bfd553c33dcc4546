#pragma once

class QWidget;

// Shows a window in front and gives it the focus, bringing it back from
// the taskbar if it was minimized.
void bringToFront(QWidget *window);
