// The platform layer on Linux: the kernel's hidraw devices, found in sysfs
// and used through their device files. Each open is its own hidraw file, so
// a device has separate write and read files as on Windows. Every call is a
// system call on the folder or file it names, so devices are served side by
// side without a lock, and finding and opening a device costs a few system
// calls rather than a device database's look-ups.
#include "usb/usb_dvk_linux.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace usb_dvk {

namespace {

// Paths ordered by length first: /dev/hidraw2 before /dev/hidraw10.
bool PathOrder(const std::string& a, const std::string& b)
{
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

// The failed call's errno; EIO where it left none.
std::error_code LastError()
{
    return SystemError(errno != 0 ? errno : EIO);
}

// A small file's text (a sysfs attribute); false, with errno, when it
// cannot be read.
bool ReadText(const std::string& path, std::string& text)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(count));
    const int readError = errno;
    ::close(fd);
    errno = readError;
    return count == 0;
}

// Whether the uevent text of a hidraw device's HID device names a USB device
// of vid/pid: its line "HID_ID=0003:000004D8:0000003F" (bus, vendor,
// product). Another bus's vendor ids are not USB's, so only USB counts.
bool IsUsbDevice(const std::string& uevent, std::uint16_t vid, std::uint16_t pid)
{
    const std::size_t at = uevent.find("HID_ID=");
    unsigned bus = 0, vendor = 0, product = 0;
    return at != std::string::npos &&
        std::sscanf(uevent.c_str() + at, "HID_ID=%x:%x:%x", &bus, &vendor, &product) == 3 && bus == BUS_USB &&
        vendor == vid && product == pid;
}

// One open hidraw file; closed when destroyed.
class HidrawFile : public DeviceFile {
public:
    explicit HidrawFile(int fd) : fd(fd) { }
    ~HidrawFile() override { ::close(fd); }

    // Read from the device the open file reaches, not from the path.
    bool Identify(std::uint16_t& vid, std::uint16_t& pid) override
    {
        hidraw_devinfo info{};
        if (::ioctl(fd, HIDIOCGRAWINFO, &info) < 0 || info.bustype != BUS_USB)
            return false;
        vid = static_cast<std::uint16_t>(info.vendor);
        pid = static_cast<std::uint16_t>(info.product);
        return true;
    }

    // A hidraw write is synchronous: the kernel's USB HID driver ends a
    // transfer the device does not take after its own limit of five seconds.
    int Write(const unsigned char* transfer, std::chrono::milliseconds, std::error_code& error) override
    {
        ssize_t count;
        do
            count = ::write(fd, transfer, kTransferSize);
        while (count < 0 && errno == EINTR);
        if (count < 0) {
            error = LastError();
            return 0;
        }
        return static_cast<int>(count);
    }

    int Read(unsigned char* transfer, std::chrono::milliseconds timeLimit, std::error_code& error) override
    {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point end = Clock::now() + timeLimit;
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
            pollfd wait = {fd, POLLIN, 0};
            const int ready = ::poll(&wait, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
            if (ready == 0) {
                error = Error::Timeout;
                return 0;
            }
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                error = LastError();
                return 0;
            }
            // The device uses no numbered reports: hidraw delivers the
            // payload alone, which goes behind the report id byte.
            const ssize_t count = ::read(fd, transfer + 1, kReportSize);
            if (count >= 0)
                return static_cast<int>(count) + 1;
            // A device that has gone reports POLLHUP or POLLERR, and its
            // read gives the reason.
            const bool gone = (wait.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
            if (errno == EINTR || (errno == EAGAIN && !gone))
                continue;
            error = LastError();
            return 0;
        }
    }

private:
    int fd;
};

class HidrawPlatform : public Platform {
public:
    HidrawPlatform(std::string classFolder, std::string deviceFolder)
        : classFolder(std::move(classFolder)), deviceFolder(std::move(deviceFolder))
    { }

    bool Enumerate(const std::string&, std::uint16_t vid, std::uint16_t pid, DeviceList& list,
                   std::error_code& error) override
    {
        const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(classFolder.c_str()), &::closedir);
        if (!folder) {
            // Without the folder the kernel has no hidraw device at all.
            if (errno == ENOENT)
                return true;
            error = LastError();
            return false;
        }
        std::vector<std::string> paths;
        std::error_code incomplete;  // a device that could not be looked at
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(folder.get());
            if (entry == nullptr)
                break;
            const std::string name = entry->d_name;
            if (name.rfind("hidraw", 0) != 0)
                continue;
            // A device that goes during the search has no uevent left to
            // read and is not listed; one that is there but cannot be read
            // may be a controller, so the search is not complete.
            std::string uevent;
            if (!ReadText(classFolder + "/" + name + "/device/uevent", uevent)) {
                if (errno != ENOENT && errno != ENODEV)
                    incomplete = LastError();
            } else if (IsUsbDevice(uevent, vid, pid)) {
                paths.push_back(deviceFolder + "/" + name);
            }
        }
        if (errno != 0) {
            error = LastError();
            return false;
        }
        std::sort(paths.begin(), paths.end(), PathOrder);
        for (const std::string& path : paths)
            list.emplace_back(path, vid, pid);
        error = incomplete;
        return !incomplete;
    }

    std::unique_ptr<DeviceFile> Open(const std::string& path, Access access, std::error_code& error) override
    {
        const int mode = access == Access::Write ? O_WRONLY : O_RDONLY | O_NONBLOCK;
        const int fd = ::open(path.c_str(), mode | O_CLOEXEC);
        if (fd < 0) {
            error = LastError();
            return nullptr;
        }
        return std::make_unique<HidrawFile>(fd);
    }

private:
    std::string classFolder;
    std::string deviceFolder;
};

}  // namespace

std::unique_ptr<Platform> MakeHidrawPlatform(std::string classFolder, std::string deviceFolder)
{
    return std::make_unique<HidrawPlatform>(std::move(classFolder), std::move(deviceFolder));
}

std::unique_ptr<Platform> MakeNativePlatform()
{
    return MakeHidrawPlatform("/sys/class/hidraw", "/dev");
}

}  // namespace usb_dvk
