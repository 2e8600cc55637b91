#include "tests/support/ModelPlatform.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace usb_dvk {

namespace {
// As the Linux layer reports them.
const std::error_code kInvalidHandleError = SystemError(EBADF);
const std::error_code kDeviceNotConnected = SystemError(ENODEV);
// What a short write or a short reply delivers.
constexpr int kShortCount = 33;
}  // namespace

class ModelPlatform::ModelFile : public DeviceFile {
public:
    ModelFile(ModelPlatform& platform, Handle handle) : platform(platform), handle(handle) { }
    ~ModelFile() override { platform.Close(handle); }
    bool Identify(std::uint16_t& vid, std::uint16_t& pid) override { return platform.Identify(handle, vid, pid); }
    int Write(const unsigned char* transfer, std::chrono::milliseconds timeLimit, std::error_code& error) override
    {
        return platform.Write(handle, transfer, timeLimit, error);
    }
    int Read(unsigned char* transfer, std::chrono::milliseconds timeLimit, std::error_code& error) override
    {
        return platform.Read(handle, transfer, timeLimit, error);
    }

private:
    ModelPlatform& platform;
    Handle handle;
};

ModelPlatform::Plugged* ModelPlatform::Find(const std::string& path)
{
    auto it = std::find_if(devices.begin(), devices.end(), [&](const Plugged& d) { return d.path == path; });
    return it == devices.end() ? nullptr : &*it;
}

const ModelPlatform::Plugged* ModelPlatform::Find(const std::string& path) const
{
    return const_cast<ModelPlatform*>(this)->Find(path);
}

ModelPlatform::Plugged* ModelPlatform::Present(const std::string& path)
{
    Plugged* device = Find(path);
    return device != nullptr && !device->model->Vanished() ? device : nullptr;
}

ModelPlatform::OpenFile* ModelPlatform::Usable(Handle handle, Access access, Plugged*& device, std::error_code& error)
{
    auto file = files.find(handle);
    if (file == files.end() || file->second.access != access) {
        error = kInvalidHandleError;
        return nullptr;
    }
    device = Present(file->second.path);
    if (device == nullptr) {
        error = kDeviceNotConnected;
        return nullptr;
    }
    return &file->second;
}

template <class Field, class Value>
void ModelPlatform::SetField(const std::string& path, Field Plugged::*field, const Value& value)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (Plugged* device = Find(path))
        device->*field = value;
}

void ModelPlatform::Plug(const std::string& path, dvk_model::ControllerModel& model, std::uint16_t vid,
                         std::uint16_t pid)
{
    std::lock_guard<std::mutex> lock(mutex);
    Plugged device;
    device.path = path;
    device.model = &model;
    device.vid = vid;
    device.pid = pid;
    devices.push_back(std::move(device));
}

void ModelPlatform::Unplug(const std::string& path)
{
    std::lock_guard<std::mutex> lock(mutex);
    devices.erase(std::remove_if(devices.begin(), devices.end(), [&](const Plugged& d) { return d.path == path; }),
                  devices.end());
    replied.notify_all();
}

void ModelPlatform::SetOpenError(const std::string& path, std::error_code error)
{
    SetField(path, &Plugged::openError, error);
}

void ModelPlatform::SetReadOpenFails(const std::string& path, bool fails)
{
    SetField(path, &Plugged::readOpenFails, fails);
}

void ModelPlatform::SetShortWrites(const std::string& path, bool shortWrites)
{
    SetField(path, &Plugged::shortWrites, shortWrites);
}

void ModelPlatform::SetWritesHang(const std::string& path, bool hang)
{
    SetField(path, &Plugged::writesHang, hang);
}

void ModelPlatform::SetEnumerationError(std::error_code error)
{
    std::lock_guard<std::mutex> lock(mutex);
    enumerationError = error;
}

void ModelPlatform::SetReportOnOpen(const std::string& path, const dvk_model::Report& report)
{
    SetField(path, &Plugged::reportOnOpen, report);
}

void ModelPlatform::SetReplyDelay(std::chrono::microseconds delay)
{
    std::lock_guard<std::mutex> lock(mutex);
    replyDelay = delay;
}

void ModelPlatform::UseSimulatedTime(bool simulated)
{
    std::lock_guard<std::mutex> lock(mutex);
    simulatedTime = simulated;
}

void ModelPlatform::SetReplyDelay(const std::string& path, std::chrono::microseconds delay)
{
    SetField(path, &Plugged::replyDelay, delay);
}

std::chrono::steady_clock::time_point ModelPlatform::NowLocked() const
{
    return simulatedTime ? simulatedNow : std::chrono::steady_clock::now();
}

std::chrono::steady_clock::time_point ModelPlatform::Now() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return NowLocked();
}

void ModelPlatform::AdvanceTime(std::chrono::microseconds duration)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (simulatedTime) {
        simulatedNow += duration;
        return;
    }
    lock.unlock();
    std::this_thread::sleep_for(duration);
}

bool ModelPlatform::WaitUntil(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point time)
{
    if (simulatedTime) {
        simulatedNow = std::max(simulatedNow, time);
        return false;
    }
    return replied.wait_until(lock, time) != std::cv_status::timeout;
}

std::vector<TransferBytes> ModelPlatform::Writes(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const Plugged* device = Find(path);
    return device ? device->writes : std::vector<TransferBytes>();
}

int ModelPlatform::Reads(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const Plugged* device = Find(path);
    return device ? device->reads : 0;
}

int ModelPlatform::OpenHandles() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(files.size());
}

bool ModelPlatform::Enumerate(const std::string&, std::uint16_t vid, std::uint16_t pid, DeviceList& list,
                              std::error_code& error)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (enumerationError) {
        error = enumerationError;
        return false;
    }
    for (const Plugged& device : devices) {
        if (device.vid == vid && device.pid == pid && !device.model->Vanished())
            list.emplace_back(device.path, vid, pid);
    }
    return true;
}

std::unique_ptr<DeviceFile> ModelPlatform::Open(const std::string& path, Access access, std::error_code& error)
{
    std::lock_guard<std::mutex> lock(mutex);
    const Plugged* device = Present(path);
    if (device == nullptr || (access == Access::Read && device->readOpenFails)) {
        error = kNotFound;
        return nullptr;
    }
    if (device->openError) {
        error = device->openError;
        return nullptr;
    }
    OpenFile& file = files[nextHandle] = OpenFile{path, access, {}};
    if (access == Access::Read) {
        const auto now = NowLocked();
        if (device->reportOnOpen)
            file.replies.push_back(Reply{now, *device->reportOnOpen});
        // Replies still on their way reach this handle too.
        for (const Reply& reply : device->inFlight) {
            if (reply.ready > now)
                file.replies.push_back(reply);
        }
    }
    return std::make_unique<ModelFile>(*this, nextHandle++);
}

bool ModelPlatform::Identify(Handle handle, std::uint16_t& vid, std::uint16_t& pid)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto file = files.find(handle);
    const Plugged* device = file == files.end() ? nullptr : Present(file->second.path);
    if (device == nullptr)
        return false;
    vid = device->vid;
    pid = device->pid;
    return true;
}

int ModelPlatform::Write(Handle handle, const unsigned char* transfer, std::chrono::milliseconds timeLimit,
                         std::error_code& error)
{
    std::unique_lock<std::mutex> lock(mutex);
    const auto deadline = NowLocked() + timeLimit;
    Plugged* device = nullptr;
    if (Usable(handle, Access::Write, device, error) == nullptr)
        return 0;
    TransferBytes bytes;
    std::memcpy(bytes.data(), transfer, kTransferSize);
    device->writes.push_back(bytes);
    if (device->writesHang) {
        // Until the time runs out or the device goes.
        while (WaitUntil(lock, deadline)) {
            if (Usable(handle, Access::Write, device, error) == nullptr)
                return 0;
        }
        error = Error::Timeout;
        return 0;
    }
    if (device->shortWrites)
        return kShortCount;
    dvk_model::Report request;
    std::memcpy(request.data(), transfer + 1, kReportSize);
    if (const auto reply = device->model->Handle(request)) {
        const auto now = NowLocked();
        const Reply late{now + device->replyDelay.value_or(replyDelay), *reply};
        for (auto& [other, open] : files) {
            if (open.access == Access::Read && open.path == device->path)
                open.replies.push_back(late);
        }
        auto& inFlight = device->inFlight;
        inFlight.erase(std::remove_if(inFlight.begin(), inFlight.end(), [&](const Reply& r) { return r.ready <= now; }),
                       inFlight.end());
        inFlight.push_back(late);
        replied.notify_all();
    }
    return kTransferSize;
}

int ModelPlatform::Read(Handle handle, unsigned char* transfer, std::chrono::milliseconds timeLimit,
                        std::error_code& error)
{
    std::unique_lock<std::mutex> lock(mutex);
    const auto deadline = NowLocked() + timeLimit;
    for (;;) {
        Plugged* device = nullptr;
        OpenFile* file = Usable(handle, Access::Read, device, error);
        if (file == nullptr)
            return 0;
        auto& replies = file->replies;
        const auto now = NowLocked();
        if (!replies.empty() && replies.front().ready <= now) {
            const dvk_model::Report report = replies.front().report;
            replies.pop_front();
            ++device->reads;
            const int count = device->model->ShortReplies() ? kShortCount : kTransferSize;
            std::memcpy(transfer + 1, report.data(), static_cast<std::size_t>(count - 1));
            return count;
        }
        if (now >= deadline) {
            error = Error::Timeout;
            return 0;
        }
        const auto wake = replies.empty() ? deadline : std::min(deadline, replies.front().ready);
        WaitUntil(lock, wake);
    }
}

void ModelPlatform::Close(Handle handle)
{
    std::lock_guard<std::mutex> lock(mutex);
    files.erase(handle);
}

}  // namespace usb_dvk
