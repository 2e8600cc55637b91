#include "usb/TimeText.h"

#include <iomanip>
#include <locale>
#include <sstream>

namespace {

constexpr std::uint32_t kDay = 86400000;
constexpr std::uint32_t kHour = 3600000;
constexpr std::uint32_t kMinute = 60000;

// At least two digits, zero-filled, and the colon.
void WriteClockField(std::ostream& out, std::uint32_t value)
{
    out << std::setw(2) << std::setfill('0') << value << ":";
}

// Seconds in general notation with 6 significant digits, with a leading 0
// below 10: 05, 03.5, 31.25.
void WriteSeconds(std::ostream& out, std::uint32_t milliseconds)
{
    const float seconds = static_cast<float>(milliseconds / 1000.0);
    if (seconds < 10)
        out << "0";
    out << std::setw(0) << std::setprecision(6) << seconds;
}

std::string DayText(std::uint8_t mask)
{
    if (mask == 0xFE)
        return "Everyday";
    static const char* const kDays[] = {"Su", "M", "Tu", "W", "Th", "F", "Sa"};
    std::string text;
    for (int day = 0; day < 7; ++day) {
        if (mask & (0x02 << day))
            text += kDays[day];
    }
    return text;
}

}  // namespace

std::string TimeText::GetText(std::uint32_t format) const
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    std::uint32_t rest = time;
    if (dayMask == 0) {
        const std::uint32_t days = rest / kDay;
        if (days > 0) {
            out << days << "d ";
            rest -= days * kDay;
        }
        for (const std::uint32_t unit : {kHour, kMinute}) {
            const std::uint32_t count = rest / unit;
            if (count > 0) {
                WriteClockField(out, count);
                rest -= count * unit;
            } else {
                out << "00:";
            }
        }
    } else {
        if (format == 0)
            out << DayText(dayMask) << " ";
        for (const std::uint32_t unit : {kHour, kMinute}) {
            WriteClockField(out, rest / unit);
            rest %= unit;
        }
    }
    WriteSeconds(out, rest);
    return out.str();
}
