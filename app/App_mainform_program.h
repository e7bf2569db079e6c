// The program sorvik: its start, from the command line to the main window's event loop.
#pragma once

#include "App_mainform_window.h"

#include <functional>

namespace App_mainform {

// Before the window: the main thread's heap gets a reserve of 128 MB on transparent huge
// pages, so that the list's first million rows do not stall the window on page faults
// (Kiv_memory). The window's benchmarks call it as the program does.
void PrepareHeap();

// The program: sorvik [--help | --version] [--] [PATH]... Returns the exit status.
// afterStart, when set, is called once the main window has handled its command line.
int RunProgram(int argc, char** argv, const std::function<void(TAppMainForm&)>& afterStart = {});

} // namespace App_mainform
