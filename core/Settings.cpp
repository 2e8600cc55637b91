#include "core/Settings.h"

#include <algorithm>

#include "core/Translatable.h"

namespace dvk {

// The texts a person reads are marked for the catalogues; the names in the
// settings file are not.
const std::array<SettingInfo, SettingCount> kSettings = {{
    {DVK_TEXT("Stamp"), DVK_TEXT("Current"), 255, DVK_TEXT("Invalid stamp current"), 1, true, 3, "Stamp", "current",
     DVK_TEXT("Stamp current")},
    {DVK_TEXT("Stamp"), DVK_TEXT("Timeout(ms)"), 65535, DVK_TEXT("Invalid stamp timeout"), 2, false, 0, "Stamp",
     "timeout", DVK_TEXT("Stamp timeout (ms)")},
    {DVK_TEXT("Stamp"), DVK_TEXT("Delay(ms)"), 65535, DVK_TEXT("Invalid stamp delay"), 2, false, 0, "Stamp", "delay",
     DVK_TEXT("Stamp delay (ms)")},
    {DVK_TEXT("Stamp Return"), DVK_TEXT("Current"), 255, DVK_TEXT("Invalid stamp return current"), 1, true, 3,
     "StampReturn", "current", DVK_TEXT("Stamp Return current")},
    {DVK_TEXT("Stamp Return"), DVK_TEXT("Timeout(ms)"), 65535, DVK_TEXT("Invalid stamp return timeout"), 2, false, 0,
     "StampReturn", "timeout", DVK_TEXT("Stamp Return timeout (ms)")},
    {DVK_TEXT("Stamp Return"), DVK_TEXT("Delay(ms)"), 65535, DVK_TEXT("Invalid stamp return delay"), 2, false, 0,
     "StampReturn", "delay", DVK_TEXT("Stamp Return delay (ms)")},
    {DVK_TEXT("Replace Die"), DVK_TEXT("Current"), 255, DVK_TEXT("Invalid replace current"), 1, true, 3, "Replace",
     "current", DVK_TEXT("Replace Die current")},
    {DVK_TEXT("Replace Die"), DVK_TEXT("Timeout(ms)"), 65535, DVK_TEXT("Invalid replace timeout"), 2, false, 0,
     "Replace", "timeout", DVK_TEXT("Replace Die timeout (ms)")},
    {DVK_TEXT("Replace Die"), DVK_TEXT("Delay(ms)"), 65535, DVK_TEXT("Invalid replace delay"), 2, false, 0, "Replace",
     "delay", DVK_TEXT("Replace Die delay (ms)")},
    {DVK_TEXT("Paper Sensor"), DVK_TEXT("Sensitivity"), 255, DVK_TEXT("Invalid paper sensitivity"), 1, false, 3,
     "PaperSensor", "sensitivity", DVK_TEXT("Paper Sensor sensitivity")},
    {DVK_TEXT("Paper Sensor"), DVK_TEXT("Activate Time(ms)"), 65535, DVK_TEXT("Invalid paper activating time"), 2,
     false, 0, "PaperSensor", "activate", DVK_TEXT("Paper Sensor activate time (ms)")},
}};

DecimalResult ConvertDecimal(const std::wstring& text)
{
    constexpr std::uint64_t kMax = 0xFFFFFFFFu;
    std::size_t pos = 0;
    // White space as the C locale has it (space, tab, line feed, vertical
    // tab, form feed, carriage return), whatever the locale of the program:
    // a text is the same number in every language.
    while (pos < text.size() && (text[pos] == L' ' || (text[pos] >= L'\t' && text[pos] <= L'\r')))
        ++pos;

    bool negative = false;
    if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) {
        negative = text[pos] == L'-';
        ++pos;
    }

    const std::size_t firstDigit = pos;
    std::uint64_t magnitude = 0;
    bool overflow = false;
    for (; pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9'; ++pos) {
        if (!overflow) {
            magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[pos] - L'0');
            overflow = magnitude > kMax;
        }
    }

    if (pos == firstDigit)  // no digits: nothing counts as consumed
        return {0, false};
    if (overflow)
        return {static_cast<std::uint32_t>(kMax), false};

    auto value = static_cast<std::uint32_t>(magnitude);
    if (negative)
        value = static_cast<std::uint32_t>(0u - value);
    return {value, pos == text.size(), negative && magnitude != 0};
}

std::optional<SettingIndex> FirstInvalidSetting(const SettingTexts& texts)
{
    for (int i = 0; i < SettingCount; ++i) {
        const DecimalResult r = ConvertDecimal(texts[i]);
        if (!r.ok || r.negative || r.value > kSettings[i].upperLimit)
            return static_cast<SettingIndex>(i);
    }
    return std::nullopt;
}

LimitedEdit LimitEdit(const std::wstring& before, const std::wstring& after, std::size_t limit)
{
    const std::size_t shorter = std::min(before.size(), after.size());
    std::size_t prefix = 0;
    while (prefix < shorter && before[prefix] == after[prefix])
        ++prefix;
    std::size_t suffix = 0;
    while (prefix + suffix < shorter && before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;

    const std::size_t kept = prefix + suffix;  // characters of before that remain
    const std::size_t room = limit > kept ? limit - kept : 0;
    const std::wstring inserted = after.substr(prefix, std::min(after.size() - kept, room));
    return {before.substr(0, prefix) + inserted + before.substr(before.size() - suffix), prefix + inserted.size()};
}

}  // namespace dvk
