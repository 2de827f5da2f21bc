#pragma once

class QApplication;

// Without a display (no X11 or Wayland display named, no platform chosen), says
// so in one line and has Qt use its offscreen platform, so the service runs all
// the same. Called before the application object exists.
void UseOffscreenWithoutDisplay();

// Runs the program in `app`: the main window, and the event loop until the
// window closes, by its close control, by "Exit" or on a termination request
// from the system. When the program already runs for this user and settings
// file, asks that one to show its window instead and ends. `minimized` starts
// with the window hidden in the notification area, when there is one.
// Answers the exit status.
int RunProgram(QApplication& app, bool minimized = false);
