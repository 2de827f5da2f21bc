#pragma once

class QApplication;

// Runs the program in `app`: the main window, and the event loop until the
// window closes, by its close control, by "Exit" or on a termination request
// from the system. Answers the exit status.
int RunProgram(QApplication& app);
