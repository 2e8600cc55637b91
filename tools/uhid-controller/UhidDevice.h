// A HID device made by this process through the kernel's uhid interface.
// Plain C++ over /dev/uhid; one object owns one open descriptor and the
// device behind it, which disappears when the object is destroyed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace uhid_dvk {

// Identity of the device as the HID core and hidraw will report it.
struct DeviceIdentity {
    std::string name;
    std::string uniq;  // unique text that finds the device's hidraw node again
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint32_t version = 0x0100;
};

// Report descriptor of a vendor-defined device with one 64-byte input report
// and one 64-byte output report, without report ids.
std::vector<uint8_t> VendorReportDescriptor64();

// What WaitEvent saw.
enum class EventKind {
    None,     // no event before the time limit
    Started,  // the HID core bound a driver to the device
    Opened,   // some reader opened the device (hidraw)
    Closed,   // the last reader closed it
    Stopped,  // the HID core unbound the driver
    Output,   // an output report arrived: see Event::data
    Other,    // an event this program does not act on (already answered)
    Failed,   // reading /dev/uhid failed: see Event::error
};

struct Event {
    EventKind kind = EventKind::None;
    std::vector<uint8_t> data;  // the output report exactly as it arrived
    int error = 0;              // errno for Failed
};

class UhidDevice {
public:
    UhidDevice() = default;
    ~UhidDevice();
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    // Opens `node` (normally /dev/uhid) and creates the device on the USB bus.
    // Returns false with a reason in Error() when either step fails.
    bool Create(const DeviceIdentity& identity, const std::vector<uint8_t>& descriptor,
                const std::string& node = "/dev/uhid");
    // Removes the device and closes the descriptor; nothing when not created.
    void Destroy();
    bool IsCreated() const { return fd_ >= 0; }

    // Waits up to timeoutMs (negative: no limit) for one event. Requests to
    // get or set a report are answered with an error here and come back as
    // Other. An interrupted wait gives None.
    Event WaitEvent(int timeoutMs);
    // Sends one input report to the host side.
    bool SendInput(const std::vector<uint8_t>& report);

    // The /dev/hidrawN node of the device once the HID core has made it,
    // found through its uniq text in sysfs; empty while there is none.
    std::string FindHidrawNode() const;

    const std::string& Error() const { return error_; }

private:
    bool WriteEvent(const void* event, size_t size);
    // Answers a get- or set-report request with an I/O error.
    void RefuseReportRequest(uint32_t replyType, uint32_t id);

    int fd_ = -1;
    std::string uniq_;
    std::string error_;
};

// The 64-byte report inside an output report: a leading report id 0 in a
// 65-byte report is dropped, shorter reports are padded with zeros.
std::vector<uint8_t> ReportPayload64(const std::vector<uint8_t>& output);

}  // namespace uhid_dvk
