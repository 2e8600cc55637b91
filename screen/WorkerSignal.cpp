#include "WorkerSignal.h"

#ifdef _WIN32

#include <windows.h>

WorkerSignal::WorkerSignal() : event(CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
    // Waits end on the system tick, 15.6 ms by default, which would round
    // every pause of the transmission up; one millisecond while a screen
    // programmer is open.
    timeBeginPeriod(1);
}

WorkerSignal::~WorkerSignal()
{
    timeEndPeriod(1);
    CloseHandle(event);
}

void WorkerSignal::Post()
{
    SetEvent(event);
}

bool WorkerSignal::WaitUntil(std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        if (WaitForSingleObject(event, static_cast<DWORD>(left.count())) == WAIT_OBJECT_0)
            return true;
    }
}

void WorkerSignal::Wait()
{
    WaitForSingleObject(event, INFINITE);
}

#else

#include <cerrno>
#include <ctime>

WorkerSignal::WorkerSignal()
{
    sem_init(&semaphore, 0, 0);
}

WorkerSignal::~WorkerSignal()
{
    sem_destroy(&semaphore);
}

void WorkerSignal::Post()
{
    sem_post(&semaphore);
}

bool WorkerSignal::WaitUntil(std::chrono::steady_clock::time_point deadline)
{
    // The steady clock is CLOCK_MONOTONIC.
    const auto since = deadline.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    timespec at{};
    at.tv_sec = static_cast<time_t>(seconds.count());
    at.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
    for (;;) {
        if (sem_clockwait(&semaphore, CLOCK_MONOTONIC, &at) == 0)
            return true;
        if (errno == ETIMEDOUT)
            return false;
    }
}

void WorkerSignal::Wait()
{
    while (sem_wait(&semaphore) != 0) {
    }
}

#endif
