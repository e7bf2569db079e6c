// The program sorvik: its start, from the command line to the main window's event loop.
#pragma once

#include "App_mainform_window.h"

#include <functional>

namespace App_mainform {

// The program: sorvik [--help | --version] [--] [PATH]... Returns the exit status.
// afterStart, when set, is called once the main window has handled its command line.
int RunProgram(int argc, char** argv, const std::function<void(TAppMainForm&)>& afterStart = {});

} // namespace App_mainform
