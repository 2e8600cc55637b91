// The USB transport to the controllers: discovery of present HID devices by
// vendor and product id, and 65-byte report transfers (report id 0 and a
// 64-byte report) over two open files per device, one for writing and one for
// reading.
//
// The platform's own calls sit behind usb_dvk::Platform: SetupAPI and Win32
// file I/O on Windows (usb_dvk_windows.cpp), the kernel's hidraw devices on
// Linux (usb_dvk_linux.cpp). The enumeration and every connection are given the
// platform they use; tests give one of their own.
//
// Errors are std::error_code: a system error keeps the system's own category
// (errno values on Linux, Win32 codes on Windows), and the failures that the
// transport itself names have the category of usb_dvk::Error.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace usb_dvk {

// The failures the transport names itself.
enum class Error {
    Timeout = 1,  // a write or read that ran out of time
    WrongDevice,  // the path opened a device with other vendor or product ids
    ShortWrite,   // a write that took less than the whole report
    ShortReply,   // a read that delivered less than a whole report
    ReplyDue,     // nothing sent: the reply to an earlier request has not come
};
const std::error_category& TransportCategory();
std::error_code make_error_code(Error error);

// A system error code: errno on Linux, a Win32 code on Windows.
inline std::error_code SystemError(int code)
{
    return std::error_code(code, std::system_category());
}
// Whether an open failed for lack of permission.
bool IsAccessDenied(const std::error_code& error);

constexpr int kReportSize = 64;                 // one report's payload
constexpr int kTransferSize = kReportSize + 1;  // report id 0 and the payload

// How long a write waits for the device to take the report, and a read
// for the device's reply. A controller answers a query within a few
// milliseconds; acknowledging a data piece may take it a few hundred while
// it stores the piece. Half a second covers that with margin and still
// bounds a controller that never answers well below the one-second refresh
// period.
constexpr std::chrono::milliseconds kTransferTimeLimit(500);

// At most this many waiting input reports are taken at once (when a
// connection opens, or settles); a device that keeps sending cannot hold a
// pass up for longer.
constexpr int kMaxDiscardedReports = 512;

// One discovered device: its path as the platform named it, and the vendor
// and product ids it was found for, which Transfer::Connect checks again
// on the opened device.
class Device {
public:
    Device(std::string path, std::uint16_t vid, std::uint16_t pid) : path(std::move(path)), vid(vid), pid(pid) { }
    const std::string& GetPath() const { return path; }
    std::uint16_t GetVendorId() const { return vid; }
    std::uint16_t GetProductId() const { return pid; }

private:
    std::string path;
    std::uint16_t vid;
    std::uint16_t pid;
};

// Filled by System::GetDeviceList.
using DeviceList = std::vector<Device>;

enum class Access { Write, Read };

// One open file of a device, for writing or for reading its reports; closed
// when destroyed. A call that fails sets error; one that succeeds leaves it
// clear.
class DeviceFile {
public:
    virtual ~DeviceFile() = default;
    DeviceFile(const DeviceFile&) = delete;
    DeviceFile& operator=(const DeviceFile&) = delete;

    // The vendor and product ids of the device that the file reaches; false
    // when it has none that can be read.
    virtual bool Identify(std::uint16_t& vid, std::uint16_t& pid) = 0;
    // Writes the 65 bytes, waiting at most timeLimit for the device to take
    // them; returns the byte count written (65 on success; 0 when the time
    // ran out, with Error::Timeout, or the write failed).
    virtual int Write(const unsigned char* transfer, std::chrono::milliseconds timeLimit, std::error_code& error) = 0;
    // Reads one report into the 65 bytes (report id first), waiting at most
    // timeLimit; returns the byte count read (65 on success; 0 when the time
    // ran out, with Error::Timeout, or the read failed). A time limit of 0
    // takes only a report that is already waiting.
    virtual int Read(unsigned char* transfer, std::chrono::milliseconds timeLimit, std::error_code& error) = 0;

protected:
    DeviceFile() = default;
};

// The platform's enumeration, and the opening of device files. A platform
// outlives the files it opened.
class Platform {
public:
    virtual ~Platform() = default;
    // Appends a Device for every present HID interface of vid/pid (idString
    // is System::GetDeviceIDStr of the pair), in an order that is stable from
    // one enumeration to the next. True when the enumeration ran to its end;
    // false with the error that stopped it, or that kept it from seeing
    // every interface.
    virtual bool Enumerate(const std::string& idString, std::uint16_t vid, std::uint16_t pid, DeviceList& list,
                           std::error_code& error) = 0;
    // Opens the path for writing or for reading; null, with the error, when
    // it does not open.
    virtual std::unique_ptr<DeviceFile> Open(const std::string& path, Access access, std::error_code& error) = 0;
};

// The platform's own layer (made by usb_dvk_windows.cpp or usb_dvk_linux.cpp).
// The program's entry makes it and hands it to whatever finds or opens
// devices.
std::unique_ptr<Platform> MakeNativePlatform();

// The enumeration context.
class System {
public:
    explicit System(Platform& platform) : platform(&platform) { }
    // "vid_04d8&pid_003f" for 0x04D8 and 0x003F.
    static std::string GetDeviceIDStr(std::uint16_t vid, std::uint16_t pid);
    // Appends the present devices of vid/pid to the list (not cleared first).
    // True when the enumeration ran to its end; the last error is then clear.
    bool GetDeviceList(std::uint16_t vid, std::uint16_t pid, DeviceList& list);
    const std::error_code& GetLastError() const { return lastError; }
    Platform& GetPlatform() const { return *platform; }

private:
    Platform* platform;
    std::error_code lastError;
};

// One connection to one device, with its report buffer.
class Transfer {
public:
    explicit Transfer(Platform& platform) : platform(&platform) { }
    virtual ~Transfer() = default;
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Opens the device for writing, then for reading, and checks that both
    // files reach a device with the vendor and product ids the device was
    // found for (Error::WrongDevice otherwise, also when a file has no ids
    // to read); then discards the input reports already waiting, so that the
    // first reply read is the answer to the first request. True when all of
    // that succeeded.
    bool Connect(const Device* device);
    // Closes both files.
    void Disconnect();
    // Writes one report with report id 0 in front; 64 on success, 0 when not
    // connected or while a reply to an earlier report is still due
    // (Error::ReplyDue).
    int Send64(const unsigned char* data);
    // Reads one report into data (64 bytes); 64 on success, 0 when not
    // connected (data untouched). A read that runs out of time fails.
    int Recv64(unsigned char* data);

    bool IsConnected() const { return reader != nullptr; }
    // Whether a report sent (or offered, when the write ran out of time) has
    // not been answered yet. Its reply may still come and would be read as
    // the answer to the next request, so nothing more is sent until it has
    // come: a device answers every request once, in order.
    bool IsAwaitingReply() const { return unanswered > 0; }
    // Takes the reports that have arrived without waiting: each answers the
    // oldest request still unanswered, or nothing. True when no reply is due
    // any more; false also when the read fails, which disconnects.
    bool Settle();
    // The error of the latest open, write or read that failed or fell short
    // (clear after one that succeeded), and the report bytes that the latest
    // write or read moved.
    const std::error_code& GetLastError() const { return lastError; }
    int GetLastCount() const { return lastCount; }

protected:
    Platform* platform;
    int unanswered = 0;  // requests sent on this connection whose replies were not read
    // Both open while connected, neither otherwise.
    std::unique_ptr<DeviceFile> writer;
    std::unique_ptr<DeviceFile> reader;
    unsigned char report[kTransferSize] = {};
    std::error_code lastError;
    int lastCount = 0;
};

}  // namespace usb_dvk

namespace std {
template <> struct is_error_code_enum<usb_dvk::Error> : true_type { };
}  // namespace std
