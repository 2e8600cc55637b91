// One running dvk-uhid-controller, started by the guest test: its process,
// and the lines it prints (read through a pipe). Destroying the object ends
// the process if it still runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kernel_test {

// One data piece as the controller reported it.
struct PieceLine {
    unsigned offset = 0;
    unsigned count = 0;
    bool accepted = false;
};

// What a controller printed about the requests it got.
struct ControllerLog {
    std::vector<std::string> requests;  // "ID", "VER", "GETTIME", "piece ..."
    std::vector<PieceLine> pieces;
    bool hasReceived = false;
    std::vector<uint8_t> lastReceived;  // bytes stored after the last accepted piece
};

class ControllerProcess {
public:
    ControllerProcess() = default;
    ~ControllerProcess();
    ControllerProcess(const ControllerProcess&) = delete;
    ControllerProcess& operator=(const ControllerProcess&) = delete;

    // Starts `tool` with --print and the arguments, and waits until it says
    // its hidraw node is there. False with a reason in Error() otherwise.
    bool Start(const std::string& tool, const std::vector<std::string>& args, std::chrono::milliseconds limit);
    // The /dev/hidrawN node the controller announced.
    const std::string& Node() const { return node_; }
    const std::string& Error() const { return error_; }
    bool Running() const { return pid_ > 0; }
    // The process id while it runs; the device's uniq text is "dvk-<pid>".
    pid_t Pid() const { return pid_; }

    // Drops whatever it printed so far.
    void Drain();
    // Reads what it prints until it has been quiet for `quiet`.
    ControllerLog Collect(std::chrono::milliseconds quiet);

    // Sends SIGTERM and waits for the process to end; true when it removed
    // its device and exited normally.
    bool Stop(std::chrono::milliseconds limit);
    // Waits for the process to end by itself (--vanish-after).
    bool WaitExit(std::chrono::milliseconds limit);

private:
    bool ReadLine(std::string& line, std::chrono::milliseconds limit);
    bool Reap(std::chrono::milliseconds limit);

    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
    std::deque<std::string> lines_;
    std::string node_;
    std::string error_;
    bool sawVanished_ = false;
    int exitStatus_ = -1;
};

// One run of a program (dravik-cli) in the background, its standard output
// and error caught in files. Destroying the object kills it if it still runs.
class ProgramRun {
public:
    ProgramRun() = default;
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    bool Start(const std::string& program, const std::vector<std::string>& args);
    // Whether it has not ended yet.
    bool Running();
    // Waits up to `limit` for it to end; false, having killed it, when it did not.
    bool Wait(std::chrono::milliseconds limit);
    int Status() const { return status_; }  // the exit status, -1 while unknown
    const std::string& Out() const { return out_; }
    const std::string& Err() const { return err_; }

private:
    bool Reap(int options);

    pid_t pid_ = -1;
    int status_ = -1;
    std::string outPath_, errPath_, out_, err_;
};

// The guest programs' checks: each prints a PASS or a FAIL line (with the
// detail, if any, when it failed) and is counted; Result prints the line
//   DVK-KERNEL-RESULT: <passed> passed, <failed> failed
// that the host's script reads, and gives the guest's exit status.
bool Check(bool ok, const std::string& what, const std::string& detail = {});
int Result();

long long Ms(std::chrono::steady_clock::duration duration);

// Parses "aa bb cc" into bytes.
std::vector<uint8_t> ParseHex(const std::string& text);

}  // namespace kernel_test
