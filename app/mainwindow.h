#pragma once
// The main window's widgets, made in code and connected to the controller's outlets.
class QMainWindow;

namespace lumafind {
class MyTableController;

// Creates the main window and every control, names each as the controller names it, sets
// the controller's outlets and connects the actions. The controller does not own the window.
QMainWindow *buildMainWindow(MyTableController &c);
} // namespace lumafind
