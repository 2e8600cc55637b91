// Why a settings file could not be read or saved, in words, for the end of a
// line that names the file. Plain C++; UTF-8. The texts are whole phrases
// with named placeholders, written once in FileResultText.cpp, where a
// translation catalogue can take them.
#pragma once

#include <string>

#include "files/SettingsFile.h"

namespace dvk {

// "no such file", "missing stamp delay", "cannot be read: " and the system's
// reason; empty when nothing failed.
std::string FileReason(const FileResult& result);

}  // namespace dvk
