// Shared pieces of the USB tests: a platform of scripted replies for the
// exact bytes of the protocol, and fixtures that hold a platform for the
// duration of a test.
#pragma once

#include <deque>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ControllerModel.h"
#include "tests/support/ModelPlatform.h"
#include "usb/usb_dvk.h"

namespace usbtest {

using Report = dvk_model::Report;

Report TextReport(const std::string& text);
// A request report: the bytes given, the rest zero.
Report Request(std::initializer_list<unsigned char> bytes);
// The 64 report bytes of a recorded 65-byte transfer.
Report Payload(const usb_dvk::TransferBytes& transfer);
dvk_model::ControllerConfig Config(const std::string& id, const std::string& version,
                                   std::array<std::uint8_t, 3> clock);
// A message of the size whose bytes all differ from their neighbours.
std::vector<unsigned char> Message(std::size_t size);

// One controller at any path, whose replies are given in advance: each read
// takes the next reply (byte count, payload); with none left it times out
// at once. Nothing waits before the first request.
class ScriptedPlatform : public usb_dvk::Platform {
public:
    struct Reply {
        int count;
        Report report;
    };
    void Answer(const Report& report, int count = usb_dvk::kTransferSize) { replies.push_back(Reply{count, report}); }

    std::vector<usb_dvk::TransferBytes> writes;
    std::deque<Reply> replies;
    int writeCount = usb_dvk::kTransferSize;
    int reads = 0;

    bool Enumerate(const std::string&, std::uint16_t, std::uint16_t, usb_dvk::DeviceList&, std::error_code&) override;
    std::unique_ptr<usb_dvk::DeviceFile> Open(const std::string&, usb_dvk::Access, std::error_code&) override;

private:
    class ScriptedFile;
    int Write(const unsigned char* transfer);
    int Read(unsigned char* transfer, std::chrono::milliseconds timeLimit, std::error_code& error);
};

// A controller's device at the path, as an enumeration finds it.
usb_dvk::Device ControllerAt(const char* path);
inline const usb_dvk::Device kDevice = ControllerAt("/dev/hidraw0");

// A platform for the test's lifetime, which the test gives to what it tests.
template <class P> class PlatformTest : public testing::Test {
protected:
    P platform;
};

}  // namespace usbtest
