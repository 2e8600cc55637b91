// The settings file: the eleven settings as an element tree, its text, and
// the way a tree read from a file is applied to the settings. Plain C++.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <system_error>

#include "core/Settings.h"
#include "files/XML_Tag.h"

namespace dvk {

// The root element and its one attribute.
inline constexpr char kSettingsRoot[] = "Dravik_38417";
inline constexpr char kSettingsVersion[] = "100";
// A settings file is a few hundred bytes; a larger file counts as corrupt.
inline constexpr std::size_t kMaxSettingsFileBytes = std::size_t{1} << 20;

// The tree for the eleven field texts: each text becomes the number that
// ConvertDecimal yields, whether or not the text was a valid number.
XML_Tag BuildSettingsTree(const SettingTexts& texts);

// The bytes of a settings file: the tree, then one more line end.
std::string FormatSettingsFile(const SettingTexts& texts);

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
    FileFailure failure = FileFailure::None;
    std::error_code error;                // the system's error, where there is one
    SettingIndex setting = SettingCount;  // the setting at fault (NotUtf8, MissingValue)

    explicit operator bool() const { return failure == FileFailure::None; }
};

// Receives one setting read from a file: the first word of its attribute.
using ApplySetting = std::function<void(SettingIndex, const std::string& word)>;

// What a file must hold to be read without failure.
enum class Expect {
    // Whatever of the settings it holds (File > Open): another root name is
    // accepted, a missing element leaves its settings as they were.
    AnySettings,
    // The root element of a settings file (NotSettings) and all eleven values
    // (MissingValue names the first missing one in canonical order).
    EverySetting,
};

// Walks the children of a valid root in file order and hands each known
// setting to apply. Fails, having applied what came before the fault, when
// the root is invalid or a child has an unknown name (NotSettings), or a
// known child lacks a value (MissingValue) or has one that is not text
// (NotUtf8): the child's other values are still applied, nothing after it.
FileResult ApplySettingsTree(const XML_Tag& root, const ApplySetting& apply, Expect expect = Expect::AnySettings);

// Reads one element from in and applies it as above. One UTF-8 byte-order
// mark before it is skipped.
FileResult ReadSettingsFile(std::istream& in, const ApplySetting& apply, Expect expect = Expect::AnySettings);

// Reads the file at path (UTF-8) and applies it as above. Only a regular
// file of at most kMaxSettingsFileBytes is read; anything else (missing,
// unreadable, a folder, a pipe, a device, too large) applies nothing and
// fails with its reason. Opening never waits for a writer or a device.
FileResult ReadSettingsFileAt(const std::string& path, const ApplySetting& apply, Expect expect = Expect::AnySettings);

// Saves bytes to the file at path (UTF-8); a link is followed to the file it
// names. The bytes go to a temporary file beside the target, named
// ".<name>.dvk-save-XXXXXX", which is renamed over the target once it is
// written and flushed, keeping the target's mode, owner, group and extended
// attributes (its access control list among them); the folder is flushed
// after the rename, as far as it can be. Where the folder does not allow that
// (no permission to create or rename there, or the owner or an attribute
// cannot be kept), and for a file with other hard links, the file is written
// in place instead: its old contents (at most kMaxSettingsFileBytes) are kept
// in memory and put back when the write fails, so that only a failure to put
// them back leaves a damaged file (Damaged). Refuses, changing nothing, a
// target that exists but is not a regular file, a dangling or looping link,
// and a file that nobody may write or that this user may not write. No
// temporary file is left behind.
FileResult WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace dvk
