// The settings file: the eleven settings as an element tree, its text, and
// the way a tree read from a file is applied to the settings. Plain C++.
#pragma once

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
// child lacks a value (its other values are still applied, nothing after it).
bool ApplySettingsTree(const XML_Tag& root, const ApplySetting& apply);

// Reads one element from in and applies it as above.
bool ReadSettingsFile(std::istream& in, const ApplySetting& apply);

// Replaces the file at path (UTF-8) with bytes, or leaves it untouched: the
// bytes go to a new file in the same folder, which is renamed over the
// target only when it was written completely. No temporary file is left
// behind on failure.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace dvk
