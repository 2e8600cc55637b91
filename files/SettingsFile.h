// The settings file: the eleven settings as an element tree, its text, and
// the way a tree read from a file is applied to the settings. Plain C++.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "core/Settings.h"
#include "files/SafeFile.h"
#include "files/XML_Tag.h"

namespace dvk {

// The root element and its one attribute.
inline constexpr char kSettingsRoot[] = "Dravik_38417";
inline constexpr char kSettingsVersion[] = "100";

// The tree for the eleven field texts: each text becomes the number that
// ConvertDecimal yields, whether or not the text was a valid number.
XML_Tag BuildSettingsTree(const SettingTexts& texts);

// The bytes of a settings file: the tree, then one more line end.
std::string FormatSettingsFile(const SettingTexts& texts);

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

}  // namespace dvk
