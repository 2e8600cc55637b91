// A controller clock value (milliseconds and a day-of-week mask) as the text
// the device list shows.
#pragma once

#include <cstdint>
#include <string>

class TimeText {
public:
    // Day mask bits: 0x02 Sunday, 0x04 Monday, ... 0x80 Saturday; 0 shows the
    // time as a duration.
    TimeText(std::uint32_t time, std::uint8_t dayMask) : time(time), dayMask(dayMask) { }
    virtual ~TimeText() = default;

    // With format 0 the day text goes in front of a clock; any other value
    // leaves it out.
    virtual std::string GetText(std::uint32_t format) const;

private:
    std::uint32_t time;  // milliseconds
    std::uint8_t dayMask;
};
