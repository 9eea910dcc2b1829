#pragma once

namespace pm::ui {

// Runs the editor: makes the application object, opens the project the command line names (a
// project that cannot be opened is reported and the editor starts with a new one), shows the
// main window and returns when it closes.
int runEditor(int argc, char** argv);

}  // namespace pm::ui
