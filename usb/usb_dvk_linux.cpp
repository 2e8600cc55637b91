// The platform layer everywhere but Windows: hidapi (the hidraw backend on
// Linux). Each open is its own hidraw file, so a device has separate write
// and read files as on Windows.
#include "usb/usb_dvk_linux.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string_view>

namespace usb_dvk {

namespace {

// Paths ordered by length first: /dev/hidraw2 before /dev/hidraw10.
bool PathOrder(const std::string& a, const std::string& b)
{
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

// hidapi leaves errno as the failed system call set it; EIO where none did
// (a read from a device that has gone: hidraw's read gives EIO then).
std::error_code ErrorCode()
{
    return SystemError(errno != 0 ? errno : EIO);
}

// The errno that a failed library call left, or else the transport's own
// error for the failure.
std::error_code ErrnoOr(int code, Error otherwise)
{
    return code != 0 ? SystemError(code) : make_error_code(otherwise);
}

// hid_enumerate returns no list both when it found no device and when the
// search failed; hid_error(NULL) tells them apart. The hidraw backend of
// hidapi 0.13 says "No HID devices ... found in the system." for the first
// and names the failure otherwise (udev could not be started); "Success",
// or no text at all before 0.13, names none.
bool SearchFailed(const wchar_t* reason)
{
    if (reason == nullptr)
        return false;
    const std::wstring_view text(reason);
    return text != L"Success" && text.rfind(L"No HID devices", 0) != 0;
}

// One hidraw file, opened by hidapi.
class HidapiFile : public DeviceFile {
public:
    HidapiFile(hid_device* device, std::mutex& library) : device(device), library(library) { }
    ~HidapiFile() override { hid_close(device); }

    bool Identify(std::uint16_t& vid, std::uint16_t& pid) override
    {
        // Read from the device the open file reaches, not from the path.
        // Its search may set the library's error text.
        const std::lock_guard<std::mutex> lock(library);
        const hid_device_info* info = hid_get_device_info(device);
        if (info == nullptr)
            return false;
        vid = info->vendor_id;
        pid = info->product_id;
        return true;
    }

    // hidapi has no time limit for writes: a hidraw write is synchronous,
    // and the kernel's USB HID driver ends a transfer the device does not
    // take after its own limit of five seconds.
    int Write(const unsigned char* transfer, std::chrono::milliseconds, std::error_code& error) override
    {
        errno = 0;
        const int count = hid_write(device, transfer, kTransferSize);
        if (count < 0) {
            error = ErrorCode();
            return 0;
        }
        return count;
    }

    int Read(unsigned char* transfer, std::chrono::milliseconds timeLimit, std::error_code& error) override
    {
        // The device uses no numbered reports: hidraw delivers the payload
        // alone, which goes behind the report id byte.
        errno = 0;
        const int count = hid_read_timeout(device, transfer + 1, kReportSize, static_cast<int>(timeLimit.count()));
        if (count < 0) {
            error = ErrorCode();
            return 0;
        }
        if (count == 0) {
            error = Error::Timeout;
            return 0;
        }
        return count + 1;
    }

private:
    hid_device* device;
    std::mutex& library;
};

// hidapi's state is the process's: the program makes one platform. The
// library keeps one error text for the process, which opening, identifying
// and enumerating replace without a lock: those run one at a time. The
// writes and reads of different devices run side by side.
class HidapiPlatform : public Platform {
public:
    explicit HidapiPlatform(const HidApi& api) : api(api)
    {
        errno = 0;
        if (api.init() != 0)
            initError = ErrnoOr(errno, Error::LibraryFailed);
    }
    ~HidapiPlatform() override
    {
        if (!initError)
            api.exit();
    }

    bool Enumerate(const std::string&, std::uint16_t vid, std::uint16_t pid, DeviceList& list,
                   std::error_code& error) override
    {
        if (initError) {
            error = initError;
            return false;
        }
        std::unique_lock<std::mutex> lock(library);
        errno = 0;
        hid_device_info* first = api.enumerate(vid, pid);
        const int code = errno;
        if (first == nullptr && SearchFailed(api.error(nullptr))) {
            error = ErrnoOr(code, Error::SearchFailed);
            return false;
        }
        // hidapi lists a device once per top-level collection; the path is
        // what counts.
        std::vector<std::string> paths;
        for (hid_device_info* info = first; info != nullptr; info = info->next) {
            if (info->path != nullptr && std::find(paths.begin(), paths.end(), info->path) == paths.end())
                paths.emplace_back(info->path);
        }
        api.freeEnumeration(first);
        lock.unlock();
        std::sort(paths.begin(), paths.end(), PathOrder);
        for (const std::string& path : paths)
            list.emplace_back(path, vid, pid);
        return true;
    }

    std::unique_ptr<DeviceFile> Open(const std::string& path, Access, std::error_code& error) override
    {
        if (initError) {
            error = initError;
            return nullptr;
        }
        const std::lock_guard<std::mutex> lock(library);
        errno = 0;
        hid_device* device = hid_open_path(path.c_str());
        if (device == nullptr) {
            error = ErrorCode();
            return nullptr;
        }
        return std::make_unique<HidapiFile>(device, library);
    }

private:
    const HidApi& api;
    std::mutex library;
    std::error_code initError;  // of a start that failed
};

}  // namespace

const HidApi& SystemHidApi()
{
    static const HidApi api = {&::hid_init, &::hid_exit, &::hid_enumerate, &::hid_free_enumeration, &::hid_error};
    return api;
}

std::unique_ptr<Platform> MakeHidapiPlatform(const HidApi& api)
{
    return std::make_unique<HidapiPlatform>(api);
}

std::unique_ptr<Platform> MakeNativePlatform()
{
    return MakeHidapiPlatform(SystemHidApi());
}

}  // namespace usb_dvk
