// The settings file: the eleven settings as an element tree, its text, and
// the way a tree read from a file is applied to the settings. Plain C++.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "Settings.h"
#include "XML_Tag.h"

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

// Receives one setting read from a file: the first word of its attribute.
using ApplySetting = std::function<void(SettingIndex, const std::string& word)>;

// Walks the children of a valid root in file order and hands each known
// setting to apply. Returns false, having applied what came before the
// fault, when the root is invalid, a child has an unknown name, or a known
// child lacks a value or has a bad one (not UTF-8 text, or holding a NUL):
// the child's other values are still applied, nothing after it.
bool ApplySettingsTree(const XML_Tag& root, const ApplySetting& apply);

// Reads one element from in and applies it as above.
bool ReadSettingsFile(std::istream& in, const ApplySetting& apply);

// Reads the file at path (UTF-8) and applies it as above. Only a regular
// file of at most kMaxSettingsFileBytes is read; anything else (missing,
// unreadable, a folder, a pipe, a device, too large) applies nothing and
// returns false. Opening never waits for a writer or a device.
bool ReadSettingsFileAt(const std::string& path, const ApplySetting& apply);

// Saves bytes to the file at path (UTF-8); a link is followed to the file it
// names. The bytes go to a temporary file beside the target, named
// ".<name>.dvk-save-XXXXXX", which is renamed over the target once it is
// written and flushed, keeping the target's mode, owner and group; the
// folder is flushed after the rename. Where the folder does not allow that
// (no permission to create or rename there, or the owner cannot be kept),
// and for a file with other hard links, the file is written in place
// instead. Refuses, changing nothing, a target that exists but is not a
// regular file, a dangling or looping link, and a file that nobody may write
// or that this user may not write. False when the bytes were not saved; no
// temporary file is left behind.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace dvk
