// dvk-thread-stopper: stops one thread of another process for a while, from
// outside, as a long system call or a descheduled process would; the other
// threads of that process keep running.
//
//   dvk-thread-stopper TID [--stops N] [--ms MS] [--after MS] [--every MS]
//
// Waits --after ms (default 0), then stops the thread TID (a process's main
// thread has the process id) N times (default 1) for MS ms each (default
// 300), the stops starting --every ms apart (default 1000). Each stop
// attaches with PTRACE_SEIZE, stops the thread with PTRACE_INTERRUPT and
// lets it go with PTRACE_DETACH, so the thread runs untraced between stops.
// Prints one line per stop with the time it really lasted. Exits with 0 when
// every stop was made, 1 when one could not be (the thread has gone, or
// tracing it is not allowed), 2 on a usage error.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    pid_t tid = 0;
    int stops = 1;
    int ms = 300;
    int afterMs = 0;
    int everyMs = 1000;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--stops" && hasValue)
            options.stops = std::atoi(argv[++i]);
        else if (arg == "--ms" && hasValue)
            options.ms = std::atoi(argv[++i]);
        else if (arg == "--after" && hasValue)
            options.afterMs = std::atoi(argv[++i]);
        else if (arg == "--every" && hasValue)
            options.everyMs = std::atoi(argv[++i]);
        else if (options.tid == 0 && !arg.empty() && arg[0] != '-')
            options.tid = static_cast<pid_t>(std::atoi(arg.c_str()));
        else
            return false;
    }
    return options.tid > 0 && options.stops > 0 && options.ms >= 0 && options.afterMs >= 0 &&
        options.everyMs >= options.ms;
}

// Reports why a stop could not be made; the result of StopOnce for it.
double Fail(const char* what, pid_t tid)
{
    std::fprintf(stderr, "dvk-thread-stopper: %s %d: %s\n", what, static_cast<int>(tid), std::strerror(errno));
    return -1;
}

// Stops the thread, holds it for `ms` and lets it go; returns how long it
// was held, or a negative value when it could not be stopped.
double StopOnce(pid_t tid, int ms)
{
    if (ptrace(PTRACE_SEIZE, tid, nullptr, nullptr) != 0)
        return Fail("cannot attach to thread", tid);
    if (ptrace(PTRACE_INTERRUPT, tid, nullptr, nullptr) != 0) {
        const double failed = Fail("cannot interrupt thread", tid);
        ptrace(PTRACE_DETACH, tid, nullptr, nullptr);
        return failed;
    }
    // The first stop reported is the interrupt's, or the delivery of a signal
    // that arrived meanwhile: either way the thread is stopped now. A signal
    // is handed on when the thread is let go.
    int status = 0;
    if (waitpid(tid, &status, __WALL) != tid || !WIFSTOPPED(status))
        return Fail("thread did not stop", tid);
    const auto stopped = Clock::now();
    const bool interrupt = status >> 16 == PTRACE_EVENT_STOP;
    const long signal = interrupt ? 0 : WSTOPSIG(status);
    std::this_thread::sleep_until(stopped + std::chrono::milliseconds(ms));
    if (ptrace(PTRACE_DETACH, tid, nullptr, reinterpret_cast<void*>(signal)) != 0)
        return Fail("cannot detach from thread", tid);
    return std::chrono::duration<double, std::milli>(Clock::now() - stopped).count();
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s TID [--stops N] [--ms MS] [--after MS] [--every MS]\n", argv[0]);
        return 2;
    }
    const auto first = Clock::now() + std::chrono::milliseconds(options.afterMs);
    for (int stop = 0; stop < options.stops; ++stop) {
        std::this_thread::sleep_until(first + std::chrono::milliseconds(stop * options.everyMs));
        const double held = StopOnce(options.tid, options.ms);
        if (held < 0)
            return 1;
        std::printf("stopped thread %d for %.1f ms\n", static_cast<int>(options.tid), held);
        std::fflush(stdout);
    }
    return 0;
}
