// Measures a GUI program's start-up: the time from launch until its first
// top-level window is mapped on the X server, and its peak resident memory.
//   startup-probe PROGRAM [SETTLE_MS]
// Prints "<milliseconds to first map> <peak resident KiB>". The program is
// ended SETTLE_MS (default 500) after its first window is mapped.
#include <X11/Xlib.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PROGRAM [SETTLE_MS]\n", argv[0]);
        return 2;
    }
    const int settleMs = argc > 2 ? std::atoi(argv[2]) : 500;
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open the X display\n");
        return 1;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execl(argv[1], argv[1], static_cast<char*>(nullptr));
        _exit(127);
    }

    double mappedMs = -1;
    const int fd = ConnectionNumber(display);
    while (mappedMs < 0) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && mappedMs < 0)
                mappedMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        }
        if (mappedMs >= 0)
            break;
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            std::fprintf(stderr, "the program ended before it mapped a window\n");
            return 1;
        }
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(fd, &fds);
        timeval timeout{0, 1000};
        select(fd + 1, &fds, nullptr, nullptr, &timeout);
    }

    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("%.1f %ld\n", mappedMs, usage.ru_maxrss);
    XCloseDisplay(display);
    return 0;
}
