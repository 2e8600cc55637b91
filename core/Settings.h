// The controller's eleven settings: one table that the validation, the
// settings file and the programming message all read, and the one rule by
// which a setting's text becomes a number.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace dvk {

// Indexes into the settings table, in canonical order.
enum SettingIndex {
    StampCurrent,
    StampTimeout,
    StampDelay,
    StampReturnCurrent,
    StampReturnTimeout,
    StampReturnDelay,
    ReplaceCurrent,
    ReplaceTimeout,
    ReplaceDelay,
    PaperSensitivity,
    PaperActivateTime,
    SettingCount
};

// The texts of a setting are English; a window translates them where it
// shows them.
struct SettingInfo {
    const char* rowLabel;        // row label in the main window
    const char* columnLabel;     // column label in the main window
    std::uint32_t upperLimit;    // largest valid value (0 is always valid)
    const char* invalidMessage;  // text of the box when the setting fails
    int byteWidth;               // 1 or 2 bytes in the programming message
    bool invertedInMessage;      // 1-byte values sent as 255 minus the value
    int maxInputLength;          // characters a user may type; 0 for no limit
    const char* fileElement;     // element of the settings file
    const char* fileAttribute;   // attribute within that element
    const char* accessibleName;  // the field's name for assistive technology: its row and column
};

extern const std::array<SettingInfo, SettingCount> kSettings;

// The eleven field texts in canonical order.
using SettingTexts = std::array<std::wstring, SettingCount>;

struct DecimalResult {
    std::uint32_t value;    // what the conversion yields, success or not
    bool ok;                // the text is exactly one 32-bit unsigned number
    bool negative = false;  // a '-' before a magnitude other than zero
};

// Converts as the C library's wide-string-to-unsigned-long does with base 10,
// into 32 bits: leading white space skipped; one optional sign, '-' negating
// modulo 2^32; digits up to the first non-digit; no digits gives 0; above
// 4294967295 gives 4294967295. It succeeds only when something was consumed,
// the whole text was consumed and the value did not overflow.
DecimalResult ConvertDecimal(const std::wstring& text);

// The first setting, in canonical order, that fails to convert, is negative
// (whatever it wraps around to; "-0" is zero) or exceeds its upper limit;
// nothing when all eleven are valid.
std::optional<SettingIndex> FirstInvalidSetting(const SettingTexts& texts);

struct LimitedEdit {
    std::wstring text;
    std::size_t caret;  // just after what the edit inserted
};

// What remains of a user's edit that turned before into after when the text
// may hold at most limit characters: the inserted characters are cut so that
// the text does not grow beyond the limit (nor at all when before was
// already longer); what the edit removed stays removed.
LimitedEdit LimitEdit(const std::wstring& before, const std::wstring& after, std::size_t limit);

}  // namespace dvk
