#include "screen/WorkerSignal.h"

#ifdef _WIN32

#include <windows.h>

#include <algorithm>

void AskForPromptWakeups()
{
    // The highest priority an ordinary process may give its threads; the
    // thread sleeps but for a few microseconds per swap.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

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
    posted.store(true);
    SetEvent(event);
}

bool WorkerSignal::WaitUntil(std::chrono::steady_clock::time_point deadline)
{
    // The pauses are plain sleeps in short slices that look for a post in
    // between. A timed wait on the event would end when the system wakes the
    // thread for it; under wine that is its server process, which runs
    // late on a busy machine, while a sleep ends in the thread itself.
    constexpr auto kSlice = std::chrono::milliseconds(5);
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
    while (!posted.exchange(false))
        WaitForSingleObject(event, INFINITE);
}

#else

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

void AskForPromptWakeups()
{
    // A low real-time priority is still above every ordinary thread; the
    // thread sleeps but for a few microseconds per swap, so it takes nothing
    // from the rest. Allowed to root, to holders of CAP_SYS_NICE and where
    // RLIMIT_RTPRIO allows it.
    sched_param realtime{};
    realtime.sched_priority = 10;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &realtime) == 0)
        return;
#ifdef SYS_sched_setattr
    // Otherwise the shortest time slice an ordinary thread may ask for: the
    // scheduler then lets it in ahead of threads that are using up longer
    // ones (Linux 6.12 on; older kernels ignore the request).
    struct {
        std::uint32_t size;
        std::uint32_t policy;
        std::uint64_t flags;
        std::int32_t nice;
        std::uint32_t priority;
        std::uint64_t runtimeNs;
        std::uint64_t deadlineNs;
        std::uint64_t periodNs;
        std::uint32_t utilMin;
        std::uint32_t utilMax;
    } attributes{};
    attributes.size = sizeof attributes;
    attributes.policy = SCHED_OTHER;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);  // this thread's own
    if (errno != 0)
        return;
    attributes.nice = nice;
    attributes.runtimeNs = 100'000;
    syscall(SYS_sched_setattr, 0, &attributes, 0);
#endif
}

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
