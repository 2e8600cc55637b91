// What both programs set up first thing in main, before anything opens a
// file or a device (ProcessStart_linux.cpp, ProcessStart_windows.cpp).
// Plain C++.
#pragma once

#include <system_error>

namespace dvk {

// On Linux: a file-size limit (RLIMIT_FSIZE) makes a write that goes beyond
// it fail with EFBIG, which the saving code handles, instead of ending the
// program with SIGXFSZ; and each of the standard descriptors 0, 1 and 2 that
// the program was started without is opened on /dev/null, so that a file or
// a controller opened later can never take its number and receive what is
// meant for the terminal. The error when /dev/null cannot be opened (the
// program should then stop). On Windows there is nothing to do.
std::error_code PrepareProcess();

}  // namespace dvk
