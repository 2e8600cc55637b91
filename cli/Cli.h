// dravik-cli: lists the controllers attached over USB, checks a settings
// file and prints its programming message, and programs every attached
// controller, from a terminal or a script. The window's plain parts do the
// work: the settings file reader, the validation, the message builder and
// the USB programmer's refresh and programming passes.
#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "usb/usb_dvk.h"

namespace dvk_cli {

// The exit status.
enum Status {
    kSuccess = 0,           // program: at least one controller, every piece of every one acknowledged
    kControllerFailed = 1,  // a controller could not be opened, did not answer or rejected a piece
    kOutputFailed = 1,      // the results could not be written
    kBadInput = 2,          // bad usage, a file that cannot be read, invalid settings
    kNoController = 3,      // no controller found
};

// The longest --wait, in seconds.
constexpr double kMaxWaitSeconds = 86400;

// How `program --wait` passes the time: the clock it reads and the pause
// between two looks for a controller. The program uses the steady clock
// and sleeps; tests give their own.
struct Waiting {
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<void(std::chrono::milliseconds)> pause;
};
Waiting RealWaiting();

// Runs one command line (the arguments after the program's name, UTF-8):
// results go to out, diagnostics (one line each) to err; the controllers are
// found and opened through the platform. Returns the exit status:
// kOutputFailed, with a diagnostic, when out is in a failed state after the
// command or cannot be flushed.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Waiting& waiting,
           usb_dvk::Platform& platform);

}  // namespace dvk_cli
