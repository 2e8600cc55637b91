// The worker of the screen programmer: keeps the transmission's schedule and
// its pauses, and hands every window change to the GUI thread.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include <wx/thread.h>

#include "ScreenSchedule.h"

class ScreenProgrammerDialog;

// One window change of a transmission, made on the GUI thread. It names the
// transmission it belongs to, so that the dialog drops the changes of one
// that has been stopped since.
struct ScreenUpdate {
    enum class Kind { Countdown, LeadIn, Swap, EndSwap, Done };
    Kind kind = Kind::Countdown;
    unsigned transmission = 0;
    int value = 0;           // Countdown: seconds left; LeadIn, Swap: gauge value
    bool firstByte = false;  // LeadIn: sending begins
};

// A joinable thread that runs, idle, for the whole life of its dialog. It
// never touches a window and never waits for the GUI thread: the dialog's
// destructor can always end it with Delete.
class ScreenProgrammerThread : public wxThread {
public:
    explicit ScreenProgrammerThread(ScreenProgrammerDialog* dialog);

    // GUI thread: arms transmission number `transmission` of a copy of the
    // message, from the countdown and the first byte. The worker takes it
    // up at the start of its next pass, even when it is still finishing a
    // step of a transmission stopped just before.
    void Start(unsigned transmission, const std::vector<unsigned char>& message);
    // GUI thread: cancels the transmission. The step under way still runs
    // out its pause but nothing after it is done.
    void Stop();
    // Whether a transmission is under way (the dialog's button shows "Stop").
    bool IsRunning() const { return running.load(std::memory_order_acquire); }

protected:
    ExitCode Entry() override;

private:
    void TakeUpRequest();
    bool StillRequested();
    bool EndIfStillRequested();
    void Post(ScreenUpdate::Kind kind, int value = 0, bool firstByte = false);

    ScreenProgrammerDialog* dialog;  // the owner
    std::atomic<bool> running{false};

    // What the GUI thread asked for last.
    std::mutex requestMutex;
    unsigned requested = 0;
    std::vector<unsigned char> requestedMessage;

    // The worker's own.
    unsigned active = 0;
    std::vector<unsigned char> message;
    dvk::ScreenSchedule schedule;
};
