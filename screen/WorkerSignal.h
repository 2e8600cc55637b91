// Wakes the screen worker from a pause: posted by the GUI thread on Start,
// Stop and close, waited for by the worker. Posting never blocks and takes no
// lock, so a GUI thread stopped at any point cannot hold the worker back.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>

// Calling thread: asks the system to run it as soon as a wait ends, ahead of
// busy ordinary threads: real-time scheduling where the user may have it,
// else the shortest time slice. What is refused is left as it is.
void AskForPromptWakeups();

class WorkerSignal {
public:
    WorkerSignal();
    ~WorkerSignal();
    WorkerSignal(const WorkerSignal&) = delete;
    WorkerSignal& operator=(const WorkerSignal&) = delete;

    void Post();
    // True when posted before the deadline, false when the deadline passed.
    // A post is counted once; posts nobody waited for wake the next waits
    // early, so the caller looks again at what changed.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);
    void Wait();

private:
    // The system's means of waking a waiting thread (WorkerSignal_linux.cpp,
    // WorkerSignal_windows.cpp). Null when the system would not give one:
    // the waits then sleep in short slices and look at `posted` in between,
    // which costs a few milliseconds of latency and nothing else.
    struct Native;
    std::unique_ptr<Native> native;
    std::atomic<bool> posted{false};
};
