// The clock text of the controller's time reply.
#include <gtest/gtest.h>

#include "usb/TimeText.h"

TEST(TimeText, ExamplesOfTheClockAndDurationForms)
{
    EXPECT_EQ(TimeText(0, 0).GetText(0), "00:00:00");
    EXPECT_EQ(TimeText(3723500, 0).GetText(0), "01:02:03.5");
    EXPECT_EQ(TimeText(90061000, 0).GetText(0), "1d 01:01:01");
    EXPECT_EQ(TimeText(30600000, 0x7C).GetText(0), "MTuWThF 08:30:00");
    EXPECT_EQ(TimeText(45296000, 0xFE).GetText(0), "Everyday 12:34:56");
    EXPECT_EQ(TimeText(25509000, 0x82).GetText(0), "SuSa 07:05:09");
}

TEST(TimeText, SecondsFieldsAndDayTexts)
{
    // Whole seconds below 10 get a leading zero, fractional ones keep their fraction.
    EXPECT_EQ(TimeText(5000, 0).GetText(0), "00:00:05");
    EXPECT_EQ(TimeText(3500, 0).GetText(0), "00:00:03.5");
    EXPECT_EQ(TimeText(61250, 0).GetText(0), "00:01:01.25");
    EXPECT_EQ(TimeText(59999, 0x02).GetText(0), "Su 00:00:59.999");
    // Days in the duration form, with hours and minutes of zero.
    EXPECT_EQ(TimeText(86400000 + 5000, 0).GetText(0), "1d 00:00:05");
    // The clock form keeps hours beyond a day.
    EXPECT_EQ(TimeText(131071000, 0xFE).GetText(0), "Everyday 36:24:31");
    // Days not all set are listed in week order, without separators.
    EXPECT_EQ(TimeText(0, 0x80 | 0x10 | 0x02).GetText(0), "SuWSa 00:00:00");
    EXPECT_EQ(TimeText(0, 0x7E).GetText(0), "SuMTuWThF 00:00:00");
    // Any other format leaves the day text out.
    EXPECT_EQ(TimeText(30600000, 0x7C).GetText(1), "08:30:00");
}
