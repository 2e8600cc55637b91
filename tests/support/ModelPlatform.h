// A platform layer of usb_dvk whose devices are controller models instead
// of hardware: for the tests and the benchmark. Models are plugged in at a
// path; each write goes to the model, and its reply arrives, after the reply
// delay, at every read handle open on that path at that moment, as the HID
// stack delivers an input report.
//
// Replies and time limits run on the platform's clock: the steady clock, or
// a simulated one (UseSimulatedTime) that stands still until a wait moves
// it. A read that waits for a reply, or a transfer that runs out of its
// time limit, then moves it straight to the moment the wait would end, and
// takes no real time. It is one clock for all devices, which the passes
// serve at once: whether a reply later than the time limit comes in time
// then depends on the others, so tests of late replies use one device. A
// test of the dialog, whose GUI thread waits for the passes, keeps the
// steady clock.
#pragma once

#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "tests/support/ControllerModel.h"
#include "usb/usb_dvk.h"

namespace usb_dvk {

using TransferBytes = std::array<unsigned char, kTransferSize>;

class ModelPlatform : public Platform {
public:
    // Plugs the model in (it must outlive its plugging); devices enumerate in
    // the order they were plugged in.
    void Plug(const std::string& path, dvk_model::ControllerModel& model, std::uint16_t vid = 0x04D8,
              std::uint16_t pid = 0x003F);
    // Unplugs for good: the path no longer enumerates nor opens, and open
    // handles on it fail. Another device may then be plugged in at the path.
    void Unplug(const std::string& path);
    // The path enumerates but does not open: with kNotFound, kAccessDenied
    // or another error; no error opens again.
    void SetOpenError(const std::string& path, std::error_code error);
    // The path opens for writing but not for reading.
    void SetReadOpenFails(const std::string& path, bool fails);
    // Writes to the path report fewer bytes than asked.
    void SetShortWrites(const std::string& path, bool shortWrites);
    // Writes to the path are never taken: each runs out of its time limit.
    void SetWritesHang(const std::string& path, bool hang);
    // Enumerations stop early with the error and list nothing; no error
    // ends that.
    void SetEnumerationError(std::error_code error);
    // An input report the device sends whenever the path is opened for
    // reading, before any request.
    void SetReportOnOpen(const std::string& path, const dvk_model::Report& report);
    // Time the devices take to answer, for a bus that is not instantaneous;
    // with a path, for that device alone.
    void SetReplyDelay(std::chrono::microseconds delay);
    void SetReplyDelay(const std::string& path, std::chrono::microseconds delay);

    // From now on the platform's clock is simulated (see above), or not.
    void UseSimulatedTime(bool simulated = true);
    // The platform's clock.
    std::chrono::steady_clock::time_point Now() const;
    // Lets time pass: moves the simulated clock on, or sleeps.
    void AdvanceTime(std::chrono::microseconds duration);

    // The system's errors for a missing device and a denied open, as the
    // Linux layer reports them (the tests run on Linux).
    static inline const std::error_code kNotFound = SystemError(ENOENT);
    static inline const std::error_code kAccessDenied = SystemError(EACCES);

    // Every transfer written to the path (or offered, when writes hang), in
    // order.
    std::vector<TransferBytes> Writes(const std::string& path) const;
    int Reads(const std::string& path) const;
    // Files open now, over all paths.
    int OpenHandles() const;

    bool Enumerate(const std::string& idString, std::uint16_t vid, std::uint16_t pid, DeviceList& list,
                   std::error_code& error) override;
    std::unique_ptr<DeviceFile> Open(const std::string& path, Access access, std::error_code& error) override;

private:
    // The open files are numbered; a ModelFile holds its number and calls
    // the platform with it.
    using Handle = int;
    class ModelFile;
    bool Identify(Handle handle, std::uint16_t& vid, std::uint16_t& pid);
    int Write(Handle handle, const unsigned char* transfer, std::chrono::milliseconds timeLimit,
              std::error_code& error);
    int Read(Handle handle, unsigned char* transfer, std::chrono::milliseconds timeLimit, std::error_code& error);
    void Close(Handle handle);

    struct Reply {
        std::chrono::steady_clock::time_point ready;
        dvk_model::Report report;
    };
    struct Plugged {
        std::string path;
        dvk_model::ControllerModel* model = nullptr;
        std::uint16_t vid = 0;
        std::uint16_t pid = 0;
        std::error_code openError;
        bool readOpenFails = false;
        bool shortWrites = false;
        bool writesHang = false;
        std::optional<std::chrono::microseconds> replyDelay;
        std::optional<dvk_model::Report> reportOnOpen;
        std::deque<Reply> inFlight;  // replies that have not arrived yet
        std::vector<TransferBytes> writes;
        int reads = 0;
    };
    struct OpenFile {
        std::string path;
        Access access;
        std::deque<Reply> replies;  // read handles only
    };

    // The open file of the handle, opened for that access, with its device
    // while present; null with the error otherwise.
    OpenFile* Usable(Handle handle, Access access, Plugged*& device, std::error_code& error);
    // The plugged device of the path while it is present, else null.
    Plugged* Present(const std::string& path);
    Plugged* Find(const std::string& path);
    const Plugged* Find(const std::string& path) const;
    std::chrono::steady_clock::time_point NowLocked() const;
    // Waits for a reply or an unplugging until the time; with the simulated
    // clock nothing can come meanwhile, so the clock moves to the time.
    // False when the time has come.
    bool WaitUntil(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point time);
    // Sets a field of the device plugged in at the path, if any.
    template <class Field, class Value>
    void SetField(const std::string& path, Field Plugged::*field, const Value& value);

    mutable std::mutex mutex;
    std::condition_variable replied;
    std::vector<Plugged> devices;
    std::map<Handle, OpenFile> files;
    Handle nextHandle = 1;
    std::chrono::microseconds replyDelay{0};
    std::error_code enumerationError;
    bool simulatedTime = false;
    std::chrono::steady_clock::time_point simulatedNow;
};

}  // namespace usb_dvk
