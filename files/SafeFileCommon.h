// What the system-specific sources of SafeFile.h share. Included by them
// alone.
#pragma once

#include <cstddef>
#include <string>
#include <system_error>

#include "files/SafeFile.h"

namespace dvk::safe_file {

inline FileResult Failed(FileFailure failure)
{
    return FileResult{failure, {}, SettingCount};
}

// ".<name>.dvk-save-XXXXXX" for the target's file name (UTF-8), which a
// person finding it after a crash can tell apart; a very long name is cut,
// at a character boundary, so that the whole stays within 255 bytes.
std::string TemporaryName(std::string name);

// "<name>.backup", then "<name>.backup-2" and on for later attempts, a very
// long name cut as above: where a file written in place keeps its old
// contents until the new ones are on the disk.
std::string BackupName(std::string name, int attempt);

constexpr int kNameAttempts = 100;

// The system's error code (errno, or GetLastError on Windows).
inline FileResult SystemFailure(int error)
{
    return FileResult{FileFailure::System, std::error_code(error, std::system_category()), SettingCount};
}

// Everything readSome(buffer, size, error) delivers up to its end (0) into
// bytes. TooLarge when that is more than maxBytes (a file that grew after
// its size was checked); System when readSome fails (-1, setting error).
template <typename ReadSome> FileResult ReadAtMost(std::size_t maxBytes, std::string& bytes, ReadSome readSome)
{
    bytes.clear();
    char chunk[16384];
    for (;;) {
        int error = 0;
        const long got = readSome(chunk, sizeof chunk, error);
        if (got < 0)
            return SystemFailure(error);
        if (got == 0)
            return {};
        if (bytes.size() + static_cast<std::size_t>(got) > maxBytes)
            return Failed(FileFailure::TooLarge);
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
}

}  // namespace dvk::safe_file
