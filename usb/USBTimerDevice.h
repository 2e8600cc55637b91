// The conversation with one controller over a connected transfer: the
// identification, version and clock queries, and the delivery of the
// programming message in acknowledged pieces.
#pragma once

#include <string>
#include <vector>

#include "usb/usb_dvk.h"

// How a delivery of the programming message ended.
struct Delivery {
    bool delivered = true;
    bool rejected = false;  // a piece was answered, but not with "OK"
    std::size_t piece = 0;  // when not delivered: the piece it stopped at (0 is the first)
};

class USBTimerDevice : public usb_dvk::Transfer {
public:
    explicit USBTimerDevice(usb_dvk::Platform& platform) : Transfer(platform) { }

    // The identification text; empty when the request or its reply falls short.
    std::string GetDeviceID();
    // The version text; empty on the same failures.
    std::string GetVersion();
    // The clock as text: "Error" when the request or its reply falls short,
    // empty when the controller's day mask is 0.
    std::string GetTimeStr();
    // Delivers the message in pieces of at most 60 bytes, each acknowledged
    // with "OK" before the next goes; true when every piece was acknowledged
    // or the message is empty. Stops at the first failure.
    bool SetData(const std::vector<unsigned char>& message);
    // The same delivery, telling where and how it stopped; the error of a
    // failed write or read is GetLastError().
    Delivery Deliver(const std::vector<unsigned char>& message);

    // Whether the latest query's request or reply failed.
    bool LastQueryFailed() const { return lastQueryFailed; }

private:
    // Sends the request (zero-filled to a report) and reads the reply into
    // the report; false when either falls short of 64 bytes.
    bool Exchange(const char* request, std::size_t length, unsigned char* reply);
    std::string QueryText(const char* request, std::size_t length);

    bool lastQueryFailed = false;
};
