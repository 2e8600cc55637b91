// The controller's side of the screen transmission: colour swaps with their
// times in, programming messages out, checked as the controller checks them.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace probe {

// One pause between two swaps: as measured, and as the sender meant it
// (50 or 100 ms), judged by which it is nearer.
struct Pause {
    double measuredMs;
    double nominalMs;
};

struct ReceivedMessage {
    std::vector<unsigned char> bytes;
    std::vector<Pause> pauses;
    std::size_t swaps = 0;
    double firstSwapMs = 0;
    double lastSwapMs = 0;
    std::string problem;  // the swaps do not make whole, well-timed bytes

    bool startOk = false;          // byte 0 is 0x57
    bool lengthOk = false;         // byte 1 counts the bytes between itself and the last
    bool dataChecksumOk = false;   // sum of the data bytes
    bool frameChecksumOk = false;  // sum of everything after the start byte

    bool Ok() const { return problem.empty() && startOk && lengthOk && dataChecksumOk && frameChecksumOk; }
    // What the sender would have needed: 3000 ms of countdown, 500 ms per
    // byte and 50 ms per 1 bit, from Start to the last swap.
    double NominalTotalMs() const;
};

// Collects swaps; a message ends when the panel has been still for longer
// than any pause within one (the countdown before the next keeps it still
// for three seconds).
class SwapDecoder {
public:
    static constexpr double kDefaultSilenceMs = 400;

    explicit SwapDecoder(double silenceMs = kDefaultSilenceMs) : silenceMs(silenceMs) { }

    void Swap(double timeMs) { swapTimes.push_back(timeMs); }
    // The message whose last swap is more than the silence before `nowMs`.
    std::optional<ReceivedMessage> Idle(double nowMs);
    bool Receiving() const { return !swapTimes.empty(); }

private:
    double silenceMs;
    std::vector<double> swapTimes;
};

// Reads the bytes out of the swap times of one message: ten swaps per byte,
// the pause after the first swap and after the tenth short, the eight
// between them the bits, least significant first, a long pause a 1.
ReceivedMessage DecodeSwaps(const std::vector<double>& swapTimes);

// Checks the start byte, the length byte and both checksums.
void CheckMessage(ReceivedMessage& message);

}  // namespace probe
