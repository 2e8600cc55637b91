#include "tools/uhid-controller/UhidDevice.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

namespace uhid_dvk {

namespace {

constexpr size_t kReportSize = 64;

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

}  // namespace

std::vector<uint8_t> VendorReportDescriptor64()
{
    return {
        0x06, 0x00, 0xFF,  // Usage Page (vendor defined 0xFF00)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
        0x75, 0x08,        //   Report Size (8)
        0x95, 0x40,        //   Report Count (64)
        0x09, 0x01,        //   Usage (1)
        0x81, 0x02,        //   Input (Data, Variable, Absolute)
        0x95, 0x40,        //   Report Count (64)
        0x09, 0x01,        //   Usage (1)
        0x91, 0x02,        //   Output (Data, Variable, Absolute)
        0xC0,              // End Collection
    };
}

std::vector<uint8_t> ReportPayload64(const std::vector<uint8_t>& output)
{
    size_t start = (output.size() == kReportSize + 1 && output[0] == 0) ? 1 : 0;
    std::vector<uint8_t> payload(kReportSize, 0);
    for (size_t i = 0; i < kReportSize && start + i < output.size(); ++i)
        payload[i] = output[start + i];
    return payload;
}

UhidDevice::~UhidDevice()
{
    Destroy();
}

bool UhidDevice::Create(const DeviceIdentity& identity, const std::vector<uint8_t>& descriptor, const std::string& node)
{
    Destroy();
    error_.clear();
    if (descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) {
        error_ = "report descriptor too long";
        return false;
    }
    fd_ = open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = SystemError("cannot open " + node);
        return false;
    }
    uhid_event ev;
    std::memset(&ev, 0, sizeof ev);
    ev.type = UHID_CREATE2;
    std::strncpy(reinterpret_cast<char*>(ev.u.create2.name), identity.name.c_str(), sizeof ev.u.create2.name - 1);
    std::strncpy(reinterpret_cast<char*>(ev.u.create2.phys), "dvk-uhid-controller", sizeof ev.u.create2.phys - 1);
    std::strncpy(reinterpret_cast<char*>(ev.u.create2.uniq), identity.uniq.c_str(), sizeof ev.u.create2.uniq - 1);
    ev.u.create2.rd_size = static_cast<uint16_t>(descriptor.size());
    ev.u.create2.bus = BUS_USB;
    ev.u.create2.vendor = identity.vendor;
    ev.u.create2.product = identity.product;
    ev.u.create2.version = identity.version;
    std::memcpy(ev.u.create2.rd_data, descriptor.data(), descriptor.size());
    if (!WriteEvent(&ev, sizeof ev)) {
        std::string reason = error_;
        close(fd_);
        fd_ = -1;
        error_ = "cannot create the device: " + reason;
        return false;
    }
    uniq_ = identity.uniq.substr(0, sizeof ev.u.create2.uniq - 1);
    return true;
}

std::string UhidDevice::FindHidrawNode() const
{
    if (fd_ < 0 || uniq_.empty())
        return {};
    const std::string wanted = "HID_UNIQ=" + uniq_ + "\n";
    DIR* dir = opendir("/sys/class/hidraw");
    if (!dir)
        return {};
    std::string found;
    while (dirent* entry = readdir(dir)) {
        std::string node = entry->d_name;
        if (node.compare(0, 6, "hidraw") != 0)
            continue;
        std::ifstream uevent("/sys/class/hidraw/" + node + "/device/uevent");
        std::string text((std::istreambuf_iterator<char>(uevent)), std::istreambuf_iterator<char>());
        if (text.find(wanted) != std::string::npos && access(("/dev/" + node).c_str(), F_OK) == 0) {
            found = "/dev/" + node;
            break;
        }
    }
    closedir(dir);
    return found;
}

void UhidDevice::Destroy()
{
    if (fd_ < 0)
        return;
    uhid_event ev;
    std::memset(&ev, 0, sizeof ev);
    ev.type = UHID_DESTROY;
    WriteEvent(&ev, sizeof ev);
    // Closing the descriptor removes the device even if the write failed.
    close(fd_);
    fd_ = -1;
}

bool UhidDevice::WriteEvent(const void* event, size_t size)
{
    ssize_t n;
    do {
        n = write(fd_, event, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        error_ = SystemError("write to uhid");
        return false;
    }
    if (static_cast<size_t>(n) != size) {
        error_ = "short write to uhid";
        return false;
    }
    return true;
}

Event UhidDevice::WaitEvent(int timeoutMs)
{
    Event result;
    if (fd_ < 0) {
        result.kind = EventKind::Failed;
        result.error = EBADF;
        return result;
    }
    pollfd p{fd_, POLLIN, 0};
    int ready = poll(&p, 1, timeoutMs);
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return result;
    if (ready < 0) {
        result.kind = EventKind::Failed;
        result.error = errno;
        return result;
    }
    uhid_event ev;
    std::memset(&ev, 0, sizeof ev);
    ssize_t n = read(fd_, &ev, sizeof ev);
    if (n < 0) {
        result.kind = errno == EINTR ? EventKind::None : EventKind::Failed;
        result.error = errno;
        return result;
    }
    switch (ev.type) {
    case UHID_START: result.kind = EventKind::Started; break;
    case UHID_STOP: result.kind = EventKind::Stopped; break;
    case UHID_OPEN: result.kind = EventKind::Opened; break;
    case UHID_CLOSE: result.kind = EventKind::Closed; break;
    case UHID_OUTPUT: {
        result.kind = EventKind::Output;
        size_t size = ev.u.output.size < UHID_DATA_MAX ? ev.u.output.size : UHID_DATA_MAX;
        result.data.assign(ev.u.output.data, ev.u.output.data + size);
        break;
    }
    // This device has no feature reports: refuse, so the kernel does not
    // wait for an answer that never comes.
    case UHID_GET_REPORT:
        RefuseReportRequest(UHID_GET_REPORT_REPLY, ev.u.get_report.id);
        result.kind = EventKind::Other;
        break;
    case UHID_SET_REPORT:
        RefuseReportRequest(UHID_SET_REPORT_REPLY, ev.u.set_report.id);
        result.kind = EventKind::Other;
        break;
    default: result.kind = EventKind::Other; break;
    }
    return result;
}

void UhidDevice::RefuseReportRequest(uint32_t replyType, uint32_t id)
{
    uhid_event reply;
    std::memset(&reply, 0, sizeof reply);
    reply.type = replyType;
    if (replyType == UHID_GET_REPORT_REPLY) {
        reply.u.get_report_reply.id = id;
        reply.u.get_report_reply.err = EIO;
    } else {
        reply.u.set_report_reply.id = id;
        reply.u.set_report_reply.err = EIO;
    }
    WriteEvent(&reply, sizeof reply);
}

bool UhidDevice::SendInput(const std::vector<uint8_t>& report)
{
    if (fd_ < 0) {
        error_ = "device not created";
        return false;
    }
    uhid_event ev;
    std::memset(&ev, 0, sizeof ev);
    ev.type = UHID_INPUT2;
    size_t size = report.size() < UHID_DATA_MAX ? report.size() : UHID_DATA_MAX;
    ev.u.input2.size = static_cast<uint16_t>(size);
    std::memcpy(ev.u.input2.data, report.data(), size);
    return WriteEvent(&ev, sizeof ev);
}

}  // namespace uhid_dvk
