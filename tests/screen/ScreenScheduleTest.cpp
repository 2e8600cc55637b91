#include <gtest/gtest.h>

#include "screen/ScreenSchedule.h"

namespace {

struct Played {
    std::vector<long> swaps;  // times of the swaps, ms after Start
    std::vector<int> countdown;
    int leadIns = 0;
    int firstByteLeadIns = 0;
    int lastProgress = 0;
    long doneAt = -1;
};

// Plays a transmission the way the worker does, on a clock that advances by
// exactly the pauses.
Played Play(const std::vector<unsigned char>& message)
{
    Played run;
    dvk::ScreenSchedule schedule;
    schedule.Restart();
    long now = 0;
    for (int pass = 0; pass < 10000 && run.doneAt < 0; ++pass) {
        const dvk::ScreenStep step = schedule.Begin(message);
        switch (step.kind) {
        case dvk::ScreenStep::Kind::Countdown: run.countdown.push_back(step.countdown); break;
        case dvk::ScreenStep::Kind::LeadIn:
            ++run.leadIns;
            run.firstByteLeadIns += step.firstByte;
            run.lastProgress = step.progress;
            break;
        case dvk::ScreenStep::Kind::Swap:
            run.swaps.push_back(now);
            run.lastProgress = step.progress;
            break;
        }
        now += step.pauseMs;
        const dvk::ScreenStepEnd end = schedule.Finish(message.size());
        if (end.endSwap)
            run.swaps.push_back(now);
        if (end.done)
            run.doneAt = now;
    }
    return run;
}

std::vector<long> Pauses(const std::vector<long>& swaps)
{
    std::vector<long> pauses;
    for (std::size_t i = 1; i < swaps.size(); ++i)
        pauses.push_back(swaps[i] - swaps[i - 1]);
    return pauses;
}

}  // namespace

TEST(ScreenSchedule, Byte57)
{
    const Played run = Play({0x57});
    EXPECT_EQ(run.countdown, (std::vector<int>{3, 2, 1}));
    ASSERT_EQ(run.swaps.size(), 10u);
    EXPECT_EQ(run.swaps.front(), 3000 + 50);  // still through the countdown and the lead-in
    EXPECT_EQ(Pauses(run.swaps), (std::vector<long>{50, 100, 100, 100, 50, 100, 50, 100, 50}));
    EXPECT_EQ(run.doneAt - 3000, 750);
    EXPECT_EQ(run.lastProgress, 10);
}

TEST(ScreenSchedule, BytesFollowEachOtherWithTheLeadIn)
{
    const Played run = Play({0x00, 0xFF});
    ASSERT_EQ(run.swaps.size(), 20u);
    const auto pauses = Pauses(run.swaps);
    EXPECT_EQ(pauses[9], 50);  // end swap of byte 0 to the start swap of byte 1
    EXPECT_EQ(std::vector<long>(pauses.begin() + 10, pauses.end()),
              (std::vector<long>{50, 100, 100, 100, 100, 100, 100, 100, 100}));
    EXPECT_EQ(run.leadIns, 2);
    EXPECT_EQ(run.firstByteLeadIns, 1);
    EXPECT_EQ(run.doneAt, run.swaps.back());
}

TEST(ScreenSchedule, FullMessageTakesTheNominalTime)
{
    const std::vector<unsigned char> message = {0x57, 0x14, 0x57, 0x9B, 0x01, 0xF4, 0x00, 0x14, 0xAF, 0x02, 0x58, 0x00,
                                                0x1E, 0x37, 0x03, 0xE8, 0x00, 0x00, 0x80, 0x00, 0xFA, 0x67, 0x39};
    const Played run = Play(message);
    EXPECT_EQ(run.swaps.size(), 230u);
    EXPECT_EQ(run.lastProgress, 230);
    long ones = 0;
    for (unsigned char b : message)
        for (int bit = 0; bit < 8; ++bit)
            ones += (b >> bit) & 1;
    EXPECT_EQ(dvk::NominalTransmissionMs(message), 3000 + 500 * 23 + 50 * ones);
    EXPECT_EQ(run.doneAt, dvk::NominalTransmissionMs(message));
}

TEST(ScreenSchedule, RestartGoesBackToTheCountdown)
{
    dvk::ScreenSchedule schedule;
    const std::vector<unsigned char> message = {0xAA, 0x55};
    for (int i = 0; i < 17; ++i) {  // into the second byte
        schedule.Begin(message);
        schedule.Finish(message.size());
    }
    ASSERT_EQ(schedule.ByteIndex(), 1);
    schedule.Restart();
    EXPECT_EQ(schedule.BitIndex(), -3);
    EXPECT_EQ(schedule.ByteIndex(), 0);
    EXPECT_EQ(schedule.Progress(), 0);
    EXPECT_EQ(schedule.Begin(message).countdown, 3);
}

TEST(ScreenSchedule, EmptyMessageEndsAfterTheCountdown)
{
    const Played run = Play({});
    EXPECT_TRUE(run.swaps.empty());
    EXPECT_EQ(run.doneAt, 3000);
}
