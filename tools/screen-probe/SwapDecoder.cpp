#include "tools/screen-probe/SwapDecoder.h"

#include <cstdio>

namespace probe {

namespace {
constexpr double kShortMs = 50;
constexpr double kLongMs = 100;
constexpr double kThresholdMs = (kShortMs + kLongMs) / 2;
constexpr double kLongestMs = kLongMs + (kLongMs - kShortMs) / 2;  // beyond this no pause is read
constexpr unsigned char kStartByte = 0x57;

std::string Describe(const char* what, std::size_t byte, double ms)
{
    char text[120];
    std::snprintf(text, sizeof text, "%s in byte %zu: %.1f ms", what, byte, ms);
    return text;
}

unsigned Sum(const std::vector<unsigned char>& bytes, std::size_t first, std::size_t last)
{
    unsigned sum = 0;
    for (std::size_t i = first; i <= last; ++i)
        sum += bytes[i];
    return sum & 0xFF;
}
}  // namespace

double ReceivedMessage::NominalTotalMs() const
{
    double total = 3000 + 500.0 * static_cast<double>(bytes.size());
    for (unsigned char byte : bytes)
        for (int bit = 0; bit < 8; ++bit)
            total += ((byte >> bit) & 1) * (kLongMs - kShortMs);
    return total;
}

std::optional<ReceivedMessage> SwapDecoder::Idle(double nowMs)
{
    if (swapTimes.empty() || nowMs - swapTimes.back() <= silenceMs)
        return std::nullopt;
    ReceivedMessage message = DecodeSwaps(swapTimes);
    CheckMessage(message);
    swapTimes.clear();
    return message;
}

ReceivedMessage DecodeSwaps(const std::vector<double>& swapTimes)
{
    ReceivedMessage message;
    message.swaps = swapTimes.size();
    if (swapTimes.empty())
        return message;
    message.firstSwapMs = swapTimes.front();
    message.lastSwapMs = swapTimes.back();
    if (swapTimes.size() % 10 != 0) {
        message.problem = std::to_string(swapTimes.size()) + " swaps do not make whole bytes";
    }

    for (std::size_t i = 1; i < swapTimes.size(); ++i) {
        const double ms = swapTimes[i] - swapTimes[i - 1];
        const std::size_t byte = (i - 1) / 10;
        const std::size_t place = (i - 1) % 10;  // 0 after the start swap, 1..8 bits, 9 lead-in
        const bool isBit = place >= 1 && place <= 8;
        const bool isLong = ms > kThresholdMs;
        if (ms > kLongestMs && message.problem.empty())
            message.problem = Describe("pause too long", byte, ms);
        else if (!isBit && isLong && message.problem.empty())
            message.problem = Describe("long pause between bits", byte, ms);
        message.pauses.push_back({ms, isBit && isLong ? kLongMs : kShortMs});
        if (isBit) {
            if (message.bytes.size() <= byte)
                message.bytes.resize(byte + 1, 0);
            if (isLong)
                message.bytes[byte] |= static_cast<unsigned char>(1u << (place - 1));
        }
    }
    // A tail of fewer than ten swaps is no byte.
    message.bytes.resize(swapTimes.size() / 10);
    return message;
}

void CheckMessage(ReceivedMessage& message)
{
    const std::vector<unsigned char>& b = message.bytes;
    message.startOk = !b.empty() && b[0] == kStartByte;
    // The length counts the block: its type byte, its data and its checksum.
    message.lengthOk = b.size() >= 2 && b[1] >= 2 && b.size() == static_cast<std::size_t>(b[1]) + 3;
    if (!message.lengthOk) {
        message.dataChecksumOk = message.frameChecksumOk = false;
        return;
    }
    const std::size_t dataChecksum = b[1] + 1u;
    message.dataChecksumOk = Sum(b, 3, dataChecksum - 1) == b[dataChecksum];
    message.frameChecksumOk = Sum(b, 1, dataChecksum) == b[dataChecksum + 1];
}

}  // namespace probe
