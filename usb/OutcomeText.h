// What became of the controllers, in words: why a pass could not use a
// controller, the names of the failures for scripts, and the line under the
// USB programmer's list. dravik-cli prints them; the dialog shows them in its
// status line. Plain C++; the texts are UTF-8.
//
// Every text a person reads is a whole sentence or phrase with named
// placeholders, written once in OutcomeText.cpp, where a translation
// catalogue can take them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>

#include "core/Translatable.h"
#include "usb/USBProgrammerPasses.h"

namespace usb_programmer {

// Gives a text's translation (UTF-8) for its English, a template with its
// placeholders. The USB programmer's looks it up in the program's catalogue;
// dravik-cli keeps the English (KeepEnglish).
using Translate = std::string (*)(const char* english);
std::string KeepEnglish(const char* english);

// The system's code of an error (errno, or a Win32 code, which may use all
// 32 bits), 0 for none or one of the transport's own.
std::uint32_t SystemCode(const std::error_code& error);
// An error's text: the system's with its code, the transport's own alone.
std::string ErrorText(const std::error_code& error, Translate translate = KeepEnglish);
// The request that an outcome names: "the version request", "piece 2".
std::string RequestName(const Outcome& outcome, Translate translate = KeepEnglish);
// Why the controller failed, naming what failed and how; empty for None.
std::string Reason(const Outcome& outcome, Translate translate = KeepEnglish);
// The failure's name for scripts: "no-answer".
const char* FailureName(Failure failure);
// That the search for controllers stopped early, with its error.
std::string SearchStoppedText(const std::error_code& error, Translate translate = KeepEnglish);

// How many controllers the refresh listed, or that one was found but could
// not be opened for lack of permission.
std::string StatusText(const RefreshReport& report, Translate translate = KeepEnglish);
constexpr char kPermissionDeniedText[] =
    DVK_TEXT("A controller was found but cannot be opened: permission denied. See the README, section USB access.");

// The most failures a status line names; the rest are counted.
constexpr std::size_t kStatusFailures = 3;
// The dialog's status line after a pass: StatusText of the latest refresh,
// then, a line each, that the search stopped early, and the failures that
// hold for the listed controllers (entry i is row i + 1): the latest
// programming failure of each, and the failure of the refresh's queries.
std::string StatusText(const RefreshReport& report, const Entries& entries, Translate translate = KeepEnglish);

}  // namespace usb_programmer
