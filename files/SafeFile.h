// Reading a small regular file whole, and replacing a file so that a
// failure at any point leaves the old contents or the new ones: the part of
// the settings file that differs by system (SafeFile_linux.cpp,
// SafeFile_windows.cpp). Plain C++.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "core/Settings.h"

namespace dvk {

// A settings file is a few hundred bytes; a larger file counts as corrupt.
inline constexpr std::size_t kMaxSettingsFileBytes = std::size_t{1} << 20;

// Why a settings file could not be read or saved.
enum class FileFailure {
    None,
    Missing,       // no such file
    Folder,        // a folder where the file should be
    NotRegular,    // a named pipe, a device, a socket
    TooLarge,      // larger than kMaxSettingsFileBytes
    ReadOnly,      // saving: a file that this user, or nobody, may write
    NotSettings,   // reading: not the XML of a settings file, or an element other than the four
    NotUtf8,       // reading: a value that is not UTF-8 text, or holds a NUL
    MissingValue,  // reading: a setting without a value
    System,        // the system refused; error says why
    Damaged,       // saving in place failed and the old contents could not be put back
};

// What reading or saving came to: true when nothing failed.
struct FileResult {
    FileResult() = default;
    FileResult(FileFailure failure, std::error_code error = {}, SettingIndex setting = SettingCount,
               std::string backup = {})
        : failure(failure), error(error), setting(setting), backup(std::move(backup))
    { }

    FileFailure failure = FileFailure::None;
    std::error_code error;                // the system's error, where there is one
    SettingIndex setting = SettingCount;  // the setting at fault (NotUtf8, MissingValue)
    std::string backup;                   // Damaged: the file that keeps the old contents (UTF-8)

    explicit operator bool() const { return failure == FileFailure::None; }
};

// The bytes of the regular file at path (UTF-8), at most maxBytes: a file
// that is missing, a folder, not a regular file (a pipe, a device), larger,
// or unreadable fails with its reason. Opening never waits for a writer or a
// device.
FileResult ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes);

// Saves bytes to the file at path (UTF-8); a link is followed to the file it
// names. The bytes go to a temporary file beside the target, named
// ".<name>.dvk-save-XXXXXX", which is renamed over the target once it is
// written and flushed, keeping the target's mode, owner, group, extended
// attributes (its access control list among them) and inode flags; the
// folder is flushed after the rename, as far as it can be. Where the folder
// does not allow that (no permission to create or rename there, or the
// owner, an attribute or a flag cannot be kept), in an append-only folder,
// and for a file with other hard links, the file is written in place
// instead. Its old contents (at most kMaxSettingsFileBytes) are then first
// written and flushed to a backup, "<name>.backup" beside the file where
// this user may make and remove files there, else in the user's data folder
// ($XDG_DATA_HOME/dravik, or ~/.local/share/dravik), which is removed once
// the new contents are flushed: a crash at any moment leaves the old file,
// the new one, or the old contents in the backup. A write that fails puts
// the old contents back from memory; only a file that then differs from them
// is Damaged, and its backup is kept (FileResult::backup). A file that
// cannot be backed up is not written. Refuses, changing nothing, a target
// that exists but is not a regular file, a dangling or looping link, and a
// file that nobody may write or that this user may not write. No temporary
// file is left behind, and none is made in a folder that would keep it; a
// new file there is written directly.
FileResult WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace dvk
