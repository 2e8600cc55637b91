// The timing of the screen transmission, apart from threads and windows: the
// worker makes the steps and sleeps the pauses this schedule gives.
#pragma once

#include <cstddef>
#include <vector>

namespace dvk {

// Pauses, in milliseconds.
constexpr int kCountdownStepMs = 1000;
constexpr int kShortPauseMs = 50;  // a 0 bit, the lead-in, after the start swap
constexpr int kLongPauseMs = 100;  // a 1 bit

constexpr int kCountdownSeconds = 3;
constexpr int kSwapsPerByte = 10;
constexpr int kProgressPerByte = 10;  // gauge steps per byte

// One step of a transmission, made at the start of a worker pass and
// followed by its pause.
struct ScreenStep {
    enum class Kind { Countdown, LeadIn, Swap };
    Kind kind = Kind::Countdown;
    int countdown = 0;       // Countdown: the seconds shown, 3, then 2, then 1
    bool firstByte = false;  // LeadIn of the first byte: sending begins
    int progress = 0;        // LeadIn and Swap: the gauge value after the step
    int pauseMs = 0;         // the pause after the step
};

// What follows a step once its pause is over.
struct ScreenStepEnd {
    bool endSwap = false;  // the byte's tenth swap, made at once
    bool done = false;     // the whole message has been sent
};

// One transmission: a countdown of three one-second steps, then per byte a
// lead-in step (no swap), the start swap and eight data swaps, least
// significant bit first, the pause after each carrying its bit (50 ms for 0,
// 100 ms for 1), and the end swap right after the last data pause. Every
// byte makes ten swaps, so the panel ends each byte in its starting colours.
class ScreenSchedule {
public:
    // Back to the countdown from 3, at the first byte, nothing done.
    void Restart();
    // The step at the current position. The message must not change during
    // a transmission.
    ScreenStep Begin(const std::vector<unsigned char>& message);
    // Moves past the step given by Begin, after its pause.
    ScreenStepEnd Finish(std::size_t messageLength);

    int BitIndex() const { return bitIndex; }
    int ByteIndex() const { return byteIndex; }
    int Progress() const { return progress; }

private:
    // -3..-1 countdown; 0 lead-in; 1 start swap; 2..9 data bits 0..7.
    int bitIndex = -kCountdownSeconds;
    int byteIndex = 0;
    int progress = 0;
};

// How long a transmission of the message should take, from Start to its last
// swap: 3000 ms + 500 ms per byte + 50 ms per 1 bit.
long NominalTransmissionMs(const std::vector<unsigned char>& message);

}  // namespace dvk
