#include <gtest/gtest.h>

#include "tools/screen-probe/SwapDecoder.h"

namespace {

const std::vector<unsigned char> kExample = {0x57, 0x14, 0x57, 0x9B, 0x01, 0xF4, 0x00, 0x14, 0xAF, 0x02, 0x58, 0x00,
                                             0x1E, 0x37, 0x03, 0xE8, 0x00, 0x00, 0x80, 0x00, 0xFA, 0x67, 0x39};

// The swap times a sender makes for the message, from `start`, each pause
// off by `jitter(i)` ms.
std::vector<double> Swaps(
    const std::vector<unsigned char>& message, double start,
    double (*jitter)(std::size_t) = [](std::size_t) { return 0.0; })
{
    std::vector<double> times;
    double now = start;
    auto pause = [&](double ms) { now += ms + jitter(times.size()); };
    for (unsigned char byte : message) {
        times.push_back(now);  // start swap
        pause(50);
        for (int bit = 0; bit < 8; ++bit) {
            times.push_back(now);
            pause((byte >> bit) & 1 ? 100 : 50);
        }
        times.push_back(now);  // end swap
        pause(50);             // the next byte's lead-in
    }
    return times;
}

}  // namespace

TEST(SwapDecoder, ReadsTheMessageThroughJitter)
{
    const auto times = Swaps(kExample, 1000, [](std::size_t i) { return i % 2 ? 20.0 : -20.0; });
    probe::ReceivedMessage message = probe::DecodeSwaps(times);
    probe::CheckMessage(message);
    EXPECT_EQ(message.bytes, kExample);
    EXPECT_TRUE(message.Ok()) << message.problem;
    EXPECT_EQ(message.swaps, 230u);
    ASSERT_EQ(message.pauses.size(), 229u);
    EXPECT_EQ(message.pauses[0].nominalMs, 50);   // after the start swap
    EXPECT_EQ(message.pauses[1].nominalMs, 100);  // bit 0 of 0x57
    EXPECT_EQ(message.pauses[9].nominalMs, 50);   // the lead-in of byte 1
    EXPECT_NEAR(message.pauses[1].measuredMs, 80, 1e-9);
    EXPECT_EQ(message.NominalTotalMs(), 3000 + 500 * 23 + 50 * 66);
}

TEST(SwapDecoder, ChecksEachPart)
{
    auto check = [](std::vector<unsigned char> bytes) {
        probe::ReceivedMessage message = probe::DecodeSwaps(Swaps(bytes, 0));
        probe::CheckMessage(message);
        return message;
    };
    auto wrongStart = kExample;
    wrongStart[0] = 0x56;
    const auto a = check(wrongStart);
    EXPECT_FALSE(a.startOk);
    EXPECT_TRUE(a.lengthOk && a.dataChecksumOk && a.frameChecksumOk);

    auto wrongData = kExample;
    wrongData[10] ^= 0x01;
    const auto b = check(wrongData);
    EXPECT_FALSE(b.dataChecksumOk);
    EXPECT_FALSE(b.frameChecksumOk);

    auto wrongFrame = kExample;
    wrongFrame[22] ^= 0x80;
    const auto c = check(wrongFrame);
    EXPECT_TRUE(c.dataChecksumOk);
    EXPECT_FALSE(c.frameChecksumOk);
    EXPECT_FALSE(c.Ok());

    const auto d = check({kExample.begin(), kExample.end() - 1});  // one byte short
    EXPECT_FALSE(d.lengthOk);

    // A shorter block is still a message when its length and sums agree.
    const auto e = check({0x57, 0x03, 0x57, 0x05, 0x05, 0x64});
    EXPECT_TRUE(e.Ok());
}

TEST(SwapDecoder, ReportsBrokenTiming)
{
    auto times = Swaps({0x57, 0x00}, 0);
    times.pop_back();  // a transmission broken off
    probe::ReceivedMessage partial = probe::DecodeSwaps(times);
    EXPECT_EQ(partial.bytes, (std::vector<unsigned char>{0x57}));
    EXPECT_NE(partial.problem.find("whole bytes"), std::string::npos);

    auto slow = Swaps({0x00}, 0);
    for (std::size_t i = 4; i < slow.size(); ++i)
        slow[i] += 80;  // a pause of 130 ms reads as nothing
    EXPECT_NE(probe::DecodeSwaps(slow).problem.find("too long"), std::string::npos);

    auto longLeadIn = Swaps({0x00, 0x00}, 0);
    for (std::size_t i = 10; i < longLeadIn.size(); ++i)
        longLeadIn[i] += 50;
    EXPECT_NE(probe::DecodeSwaps(longLeadIn).problem.find("between bits"), std::string::npos);
}

TEST(SwapDecoder, MessagesEndWithStillness)
{
    probe::SwapDecoder decoder;
    // A transmission stopped after three bytes, then a whole one after the
    // countdown.
    const auto first = Swaps({0x57, 0x14, 0x57}, 0);
    const auto second = Swaps(kExample, first.back() + 3050);
    for (double t : first)
        decoder.Swap(t);
    EXPECT_FALSE(decoder.Idle(first.back() + 150).has_value());
    auto stopped = decoder.Idle(first.back() + 500);
    ASSERT_TRUE(stopped.has_value());
    EXPECT_FALSE(stopped->lengthOk);
    EXPECT_FALSE(decoder.Receiving());

    for (double t : second)
        decoder.Swap(t);
    auto whole = decoder.Idle(second.back() + 500);
    ASSERT_TRUE(whole.has_value());
    EXPECT_TRUE(whole->Ok());
    EXPECT_EQ(whole->bytes, kExample);
    EXPECT_DOUBLE_EQ(whole->firstSwapMs, second.front());
}
