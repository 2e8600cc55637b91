// Waking the screen worker on Linux: a semaphore, waited for on the
// monotonic clock.
#include "screen/WorkerSignal.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

// How often a wait without a semaphore looks for a post.
constexpr auto kSlice = std::chrono::milliseconds(2);

// Sleeps in slices until posted or the deadline; true when posted.
bool SleepUntilPosted(std::atomic<bool>& posted, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        if (posted.exchange(false))
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(deadline - now, kSlice));
    }
}

}  // namespace

struct WorkerSignal::Native {
    sem_t semaphore;
};

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

WorkerSignal::WorkerSignal() : native(std::make_unique<Native>())
{
    if (sem_init(&native->semaphore, 0, 0) != 0)
        native.reset();
}

WorkerSignal::~WorkerSignal()
{
    if (native)
        sem_destroy(&native->semaphore);
}

void WorkerSignal::Post()
{
    if (native)
        sem_post(&native->semaphore);
    else
        posted.store(true);
}

bool WorkerSignal::WaitUntil(std::chrono::steady_clock::time_point deadline)
{
    if (!native)
        return SleepUntilPosted(posted, deadline);
    // The steady clock is CLOCK_MONOTONIC.
    const auto since = deadline.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    timespec at{};
    at.tv_sec = static_cast<time_t>(seconds.count());
    at.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
    for (;;) {
        if (sem_clockwait(&native->semaphore, CLOCK_MONOTONIC, &at) == 0)
            return true;
        if (errno == ETIMEDOUT)
            return false;
    }
}

void WorkerSignal::Wait()
{
    if (!native) {
        SleepUntilPosted(posted, std::chrono::steady_clock::time_point::max());
        return;
    }
    while (sem_wait(&native->semaphore) != 0) { }
}
