// The worker of the screen programmer: keeps the transmission's schedule,
// sleeps its pauses and draws every swap on the panel itself, so that its
// timing never waits for the GUI thread. It makes no toolkit call and takes
// no lock that the GUI thread may hold; it publishes its progress in one
// atomic record that the dialog reads from a timer.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <wx/thread.h>

#include "screen/PanelPainter.h"
#include "screen/ScreenSchedule.h"
#include "screen/WorkerSignal.h"

// What the worker last did for a transmission, as the dialog shows it.
struct ScreenStatus {
    enum class Phase : std::uint8_t {
        Idle,       // nothing yet
        Countdown,  // value: the seconds shown, 3, 2, 1
        Sending,    // value: the gauge
        Done,       // value: the gauge, full
        Failed,     // the panel could not be drawn on
    };
    unsigned transmission = 0;
    Phase phase = Phase::Idle;
    int value = 0;

    bool operator==(const ScreenStatus& other) const
    {
        return transmission == other.transmission && phase == other.phase && value == other.value;
    }
    bool operator!=(const ScreenStatus& other) const { return !(*this == other); }
};

// A joinable thread that runs, idle, for the whole life of its dialog and is
// ended by End and Wait.
class ScreenProgrammerThread : public wxThread {
public:
    // `panelInverted` is the panel's record of what it shows: the worker sets
    // it just before each drawing, and the panel's paint handler draws it.
    explicit ScreenProgrammerThread(std::shared_ptr<std::atomic<bool>> panelInverted);
    ~ScreenProgrammerThread() override;

    // GUI thread: arms transmission number `transmission` (never 0, counting
    // up) of the message on the panel `target`, from the countdown and the
    // first byte. A transmission still under way ends first.
    void Start(unsigned transmission, const std::vector<unsigned char>& message, const PanelTarget& target);
    // GUI thread: ends the transmission. The worker wakes at once, sends
    // nothing more of it, and puts the panel back to its starting colours.
    void Stop();
    // GUI thread: asks the worker to end (then Wait for it). It ends within
    // the drawing under way.
    void End();

    // GUI thread: the worker's latest record.
    ScreenStatus Status() const;

    using Clock = std::chrono::steady_clock;
    // Called on the worker thread after each drawing with the colours drawn
    // (each swap, and the reset after a Stop) and the moment the drawing was
    // sent; set before the first Start. Lets the tests time the swaps.
    using DrawHook = std::function<void(bool inverted, Clock::time_point sent)>;
    void SetDrawHook(DrawHook hook) { drawHook = std::move(hook); }

protected:
    ExitCode Entry() override;

private:
    struct Job {
        unsigned transmission;
        std::vector<unsigned char> message;
        PanelTarget target;
    };

    bool Wanted(unsigned transmission) const;
    void TakeUpRequest();
    void EndJob();
    bool PauseUntil(Clock::time_point deadline);
    bool Swap();
    bool DrawPanel(bool inverted);
    void Publish(ScreenStatus::Phase phase, int value);

    const std::shared_ptr<std::atomic<bool>> panelInverted;  // shared with the panel, which may go first
    DrawHook drawHook;
    WorkerSignal signal;

    // Written by the GUI thread: the transmission wanted (0: none), the job
    // that goes with it (taken by the worker), and whether the worker is to
    // end.
    std::atomic<unsigned> wanted{0};
    std::atomic<Job*> pending{nullptr};
    std::atomic<bool> ending{false};

    // Written by the worker: its record, packed (transmission, phase, value).
    std::atomic<std::uint64_t> status{0};

    // The worker's own.
    std::unique_ptr<Job> job;
    bool sending = false;       // the job's transmission is under way
    Clock::time_point drawnAt;  // when the last drawing was sent
    bool endSwapped = false;    // the last step ended with the end swap
    std::unique_ptr<PanelPainter> painter;
    dvk::ScreenSchedule schedule;
};
