#include "screen/ScreenSchedule.h"

#include <bitset>

namespace dvk {

void ScreenSchedule::Restart()
{
    bitIndex = -kCountdownSeconds;
    byteIndex = 0;
    progress = 0;
}

ScreenStep ScreenSchedule::Begin(const std::vector<unsigned char>& message)
{
    ScreenStep step;
    if (bitIndex < 0) {
        step.kind = ScreenStep::Kind::Countdown;
        step.countdown = -bitIndex;
        step.pauseMs = kCountdownStepMs;
        return step;
    }
    ++progress;
    step.progress = progress;
    if (bitIndex == 0) {
        step.kind = ScreenStep::Kind::LeadIn;
        step.firstByte = byteIndex == 0;
        step.pauseMs = kShortPauseMs;
        return step;
    }
    step.kind = ScreenStep::Kind::Swap;
    if (bitIndex == 1) {
        step.pauseMs = kShortPauseMs;
    } else {
        const int bit = (message[byteIndex] >> (bitIndex - 2)) & 1;
        step.pauseMs = bit ? kLongPauseMs : kShortPauseMs;
    }
    return step;
}

ScreenStepEnd ScreenSchedule::Finish(std::size_t messageLength)
{
    ScreenStepEnd end;
    ++bitIndex;
    if (bitIndex == kSwapsPerByte) {
        end.endSwap = true;
        bitIndex = 0;
        ++byteIndex;
    }
    // Also ends at once after the countdown when there is nothing to send.
    end.done = bitIndex == 0 && static_cast<std::size_t>(byteIndex) >= messageLength;
    return end;
}

long NominalTransmissionMs(const std::vector<unsigned char>& message)
{
    long ones = 0;
    for (unsigned char byte : message)
        ones += static_cast<long>(std::bitset<8>(byte).count());
    // Per byte: the lead-in, the start swap's pause and eight bit pauses.
    constexpr long kByteMs = 10L * kShortPauseMs;
    return kCountdownSeconds * kCountdownStepMs + kByteMs * static_cast<long>(message.size()) +
        static_cast<long>(kLongPauseMs - kShortPauseMs) * ones;
}

}  // namespace dvk
