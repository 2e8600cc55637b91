// The programming message: the 23 bytes that carry the eleven settings to
// the controller, by the screen or over USB.
#pragma once

#include <cstddef>
#include <vector>

#include "core/Settings.h"

namespace dvk {

constexpr unsigned char kMessageStartByte = 0x57;  // the character W
constexpr unsigned char kSettingsBlockType = 0x57;
constexpr std::size_t kDeviceMemoryBytes = 128;  // the controller's limit

// Appends the message built from the eleven field texts to `message`, which
// must be empty. Every text is read with ConvertDecimal and its value used
// whether or not the text was valid: a 1-byte setting keeps the low 8 bits
// (inverted ones are sent as 255 minus those), a 2-byte setting the low 16
// bits, high byte first. Nothing is validated here.
void AppendProgrammingMessage(const SettingTexts& texts, std::vector<unsigned char>& message);

}  // namespace dvk
