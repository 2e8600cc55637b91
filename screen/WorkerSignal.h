// Wakes the screen worker from a pause: posted by the GUI thread on Start,
// Stop and close, waited for by the worker. Posting never blocks and takes no
// lock, so a GUI thread stopped at any point cannot hold the worker back.
#pragma once

#include <atomic>
#include <chrono>

#ifndef _WIN32
#include <semaphore.h>
#endif

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
#ifdef _WIN32
    void* event;  // an auto-reset event, for the idle wait
    std::atomic<bool> posted{false};
#else
    sem_t semaphore;
#endif
};
