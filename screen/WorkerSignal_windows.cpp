// Waking the screen worker on Windows: a flag that the pauses look at
// between short sleeps, and an event for the idle wait.
#include "screen/WorkerSignal.h"

#include <windows.h>

#include <algorithm>

namespace {
// How often a pause looks for a post.
constexpr auto kSlice = std::chrono::milliseconds(5);
}  // namespace

struct WorkerSignal::Native {
    HANDLE event;  // auto-reset
};

void AskForPromptWakeups()
{
    // The highest priority an ordinary process may give its threads; the
    // thread sleeps but for a few microseconds per swap.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

WorkerSignal::WorkerSignal()
{
    if (HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr))
        native = std::make_unique<Native>(Native{event});
    // Waits end on the system tick, 15.6 ms by default, which would round
    // every pause of the transmission up; one millisecond while a screen
    // programmer is open.
    timeBeginPeriod(1);
}

WorkerSignal::~WorkerSignal()
{
    timeEndPeriod(1);
    if (native)
        CloseHandle(native->event);
}

void WorkerSignal::Post()
{
    posted.store(true);
    if (native)
        SetEvent(native->event);
}

bool WorkerSignal::WaitUntil(std::chrono::steady_clock::time_point deadline)
{
    // The pauses are plain sleeps in short slices that look for a post in
    // between. A timed wait on the event would end when the system wakes the
    // thread for it; under wine that is its server process, which runs
    // late on a busy machine, while a sleep ends in the thread itself.
    for (;;) {
        if (posted.exchange(false))
            return true;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        Sleep(static_cast<DWORD>(std::min(left, kSlice).count()));
    }
}

void WorkerSignal::Wait()
{
    while (!posted.exchange(false)) {
        if (!native || WaitForSingleObject(native->event, INFINITE) == WAIT_FAILED)
            Sleep(static_cast<DWORD>(kSlice.count()));
    }
}
