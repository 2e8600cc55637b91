#include "tests/kernel/ControllerProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kernel_test {

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

std::vector<uint8_t> ParseHex(const std::string& text)
{
    std::vector<uint8_t> bytes;
    const char* p = text.c_str();
    char* end = nullptr;
    for (;;) {
        unsigned long v = std::strtoul(p, &end, 16);
        if (end == p)
            break;
        bytes.push_back(static_cast<uint8_t>(v));
        p = end;
    }
    return bytes;
}

ControllerProcess::~ControllerProcess()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0)
        close(out_);
}

bool ControllerProcess::Start(const std::string& tool, const std::vector<std::string>& args,
                              std::chrono::milliseconds limit)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    std::vector<std::string> all = {tool, "--print"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        error_ = std::string("fork: ") + std::strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        execv(tool.c_str(), argv.data());
        std::fprintf(stderr, "cannot run %s: %s\n", tool.c_str(), std::strerror(errno));
        _exit(127);
    }
    close(fds[1]);
    pid_ = pid;
    out_ = fds[0];
    const Clock::time_point deadline = Clock::now() + limit;
    std::string line;
    while (ReadLine(line, std::chrono::milliseconds(RemainingMs(deadline)))) {
        if (StartsWith(line, "ready /dev/")) {
            node_ = line.substr(6, line.find(' ', 6) - 6);
            return true;
        }
        if (StartsWith(line, "ready ")) {
            error_ = "the controller found no hidraw node for its device: " + line;
            return false;
        }
    }
    error_ = pid_ > 0 ? "the controller did not get ready in time" : "the controller ended before it was ready";
    return false;
}

bool ControllerProcess::ReadLine(std::string& line, std::chrono::milliseconds limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        size_t newline = pending_.find('\n');
        if (newline != std::string::npos) {
            line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            if (line == "vanished")
                sawVanished_ = true;
            return true;
        }
        if (out_ < 0)
            return false;
        pollfd p{out_, POLLIN, 0};
        int ready = poll(&p, 1, RemainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char buffer[4096];
        ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) {
            // The controller ended: what it printed last has been read.
            close(out_);
            out_ = -1;
            Reap(std::chrono::milliseconds(1000));
            continue;
        }
        pending_.append(buffer, static_cast<size_t>(n));
    }
}

void ControllerProcess::Drain()
{
    std::string line;
    while (ReadLine(line, std::chrono::milliseconds(0))) { }
}

ControllerLog ControllerProcess::Collect(std::chrono::milliseconds quiet)
{
    ControllerLog log;
    std::string line;
    while (ReadLine(line, quiet)) {
        if (StartsWith(line, "request piece ")) {
            PieceLine piece;
            char verdict[16] = {};
            if (std::sscanf(line.c_str(), "request piece offset %u count %u: %15s", &piece.offset, &piece.count,
                            verdict) == 3) {
                piece.accepted = std::strcmp(verdict, "OK") == 0;
                log.pieces.push_back(piece);
            }
            log.requests.push_back(line.substr(8));
        } else if (StartsWith(line, "request ")) {
            log.requests.push_back(line.substr(8));
        } else if (StartsWith(line, "received ")) {
            size_t colon = line.find(':');
            log.hasReceived = true;
            log.lastReceived = colon == std::string::npos ? std::vector<uint8_t>() : ParseHex(line.substr(colon + 1));
        }
    }
    return log;
}

bool ControllerProcess::Reap(std::chrono::milliseconds limit)
{
    if (pid_ <= 0)
        return true;
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid_ = -1;
            return true;
        }
        if (r < 0 || Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ControllerProcess::WaitExit(std::chrono::milliseconds limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    std::string line;
    while (pid_ > 0 && Clock::now() < deadline) {
        ReadLine(line, std::chrono::milliseconds(std::min(RemainingMs(deadline), 100)));
        if (out_ < 0)
            Reap(std::chrono::milliseconds(RemainingMs(deadline)));
    }
    Drain();
    return pid_ <= 0 && exitStatus_ == 0 && sawVanished_;
}

bool ControllerProcess::Stop(std::chrono::milliseconds limit)
{
    if (pid_ <= 0)
        return false;
    kill(pid_, SIGTERM);
    return WaitExit(limit);
}

ProgramRun::~ProgramRun()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ProgramRun::Start(const std::string& program, const std::vector<std::string>& args)
{
    static int runs = 0;
    const std::string base = "/tmp/dvk-run-" + std::to_string(getpid()) + "-" + std::to_string(++runs);
    outPath_ = base + ".out";
    errPath_ = base + ".err";
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        const int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0)
            _exit(126);
        execv(program.c_str(), argv.data());
        std::fprintf(stderr, "cannot run %s: %s\n", program.c_str(), std::strerror(errno));
        _exit(127);
    }
    return pid_ > 0;
}

bool ProgramRun::Reap(int options)
{
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, options) != pid_)
        return false;
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    auto slurp = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    };
    out_ = slurp(outPath_);
    err_ = slurp(errPath_);
    std::remove(outPath_.c_str());
    std::remove(errPath_.c_str());
    return true;
}

bool ProgramRun::Running()
{
    return pid_ > 0 && !Reap(WNOHANG);
}

bool ProgramRun::Wait(std::chrono::milliseconds limit)
{
    const Clock::time_point deadline = Clock::now() + limit;
    while (Running()) {
        if (Clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            Reap(0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

namespace {
int passed = 0;
int failed = 0;
}  // namespace

bool Check(bool ok, const std::string& what, const std::string& detail)
{
    ++(ok ? passed : failed);
    if (ok || detail.empty())
        std::printf("%s: %s\n", ok ? "PASS" : "FAIL", what.c_str());
    else
        std::printf("FAIL: %s (%s)\n", what.c_str(), detail.c_str());
    std::fflush(stdout);
    return ok;
}

int Result()
{
    std::printf("DVK-KERNEL-RESULT: %d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

long long Ms(std::chrono::steady_clock::duration duration)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

}  // namespace kernel_test
