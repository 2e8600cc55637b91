#include "tests/support/UsbTestSupport.h"

#include <algorithm>
#include <cstring>

namespace usbtest {

Report TextReport(const std::string& text)
{
    Report report{};
    std::copy_n(text.begin(), std::min(text.size(), report.size()), report.begin());
    return report;
}

Report Payload(const usb_dvk::TransferBytes& transfer)
{
    Report report;
    std::copy(transfer.begin() + 1, transfer.end(), report.begin());
    return report;
}

dvk_model::ControllerConfig Config(const std::string& id, const std::string& version, std::array<std::uint8_t, 3> clock)
{
    return dvk_model::ControllerConfig{id, version, clock};
}

std::vector<unsigned char> Message(std::size_t size)
{
    std::vector<unsigned char> message(size);
    for (std::size_t i = 0; i < size; ++i)
        message[i] = static_cast<unsigned char>(i * 7 + 3);
    return message;
}

Report Request(std::initializer_list<unsigned char> bytes)
{
    Report report{};
    std::copy(bytes.begin(), bytes.end(), report.begin());
    return report;
}

usb_dvk::Device ControllerAt(const char* path)
{
    return usb_dvk::Device(path, 0x04D8, 0x003F);
}

bool ScriptedPlatform::Enumerate(const std::string&, std::uint16_t, std::uint16_t, usb_dvk::DeviceList&,
                                 std::error_code&)
{
    return true;
}

// Both files reach the same scripted controller.
class ScriptedPlatform::ScriptedFile : public usb_dvk::DeviceFile {
public:
    explicit ScriptedFile(ScriptedPlatform& platform) : platform(platform) { }
    bool Identify(std::uint16_t& vid, std::uint16_t& pid) override
    {
        vid = 0x04D8;
        pid = 0x003F;
        return true;
    }
    int Write(const unsigned char* transfer, std::chrono::milliseconds, std::error_code&) override
    {
        return platform.Write(transfer);
    }
    int Read(unsigned char* transfer, std::chrono::milliseconds timeLimit, std::error_code& error) override
    {
        return platform.Read(transfer, timeLimit, error);
    }

private:
    ScriptedPlatform& platform;
};

std::unique_ptr<usb_dvk::DeviceFile> ScriptedPlatform::Open(const std::string&, usb_dvk::Access, std::error_code&)
{
    return std::make_unique<ScriptedFile>(*this);
}

int ScriptedPlatform::Write(const unsigned char* transfer)
{
    usb_dvk::TransferBytes bytes;
    std::memcpy(bytes.data(), transfer, bytes.size());
    writes.push_back(bytes);
    return writeCount;  // a short count without an error, as a device that takes part of a report
}

int ScriptedPlatform::Read(unsigned char* transfer, std::chrono::milliseconds timeLimit, std::error_code& error)
{
    if (timeLimit.count() == 0) {  // the replies answer requests: none is waiting before one
        error = usb_dvk::Error::Timeout;
        return 0;
    }
    ++reads;
    if (replies.empty()) {
        error = usb_dvk::Error::Timeout;
        return 0;
    }
    const Reply reply = replies.front();
    replies.pop_front();
    std::memcpy(transfer + 1, reply.report.data(), reply.report.size());
    return reply.count;
}

}  // namespace usbtest
