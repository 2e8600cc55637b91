#include "usb/OutcomeText.h"

#include <vector>

#include "core/TextTemplate.h"

namespace usb_programmer {

namespace {

using dvk::FillText;

// The texts.
constexpr char kNoControllerText[] = "No controller found.";
constexpr char kOneControllerText[] = "1 controller found.";
constexpr char kControllersText[] = "{count} controllers found.";
constexpr char kSearchStoppedText[] = "the search for controllers stopped early: {error}; some may be missing";
constexpr char kRowFailureText[] = "controller {row}: {reason}";
constexpr char kMoreFailuresText[] = "and {count} more";

constexpr char kSystemErrorText[] = "{message} (error {code})";

constexpr char kIdentificationRequest[] = "the identification request";
constexpr char kVersionRequest[] = "the version request";
constexpr char kClockRequest[] = "the clock request";
constexpr char kPieceRequest[] = "piece {number}";
constexpr char kAnyRequest[] = "a request";

constexpr char kGoneText[] = "no longer attached";
constexpr char kCannotOpenText[] = "could not open: {error}";
constexpr char kPermissionText[] = "could not open: permission denied";
constexpr char kNotAControllerText[] = "not a controller: the device has other vendor and product ids";
constexpr char kShortReplyText[] = "short reply to {request}: {count} of {size} bytes";
constexpr char kShortWriteText[] = "short write of {request}: {count} of {size} bytes";
constexpr char kNotSentText[] = "{request} not sent: no answer yet to an earlier request";
constexpr char kNoAnswerText[] = "no answer to {request} within {limit} ms";
constexpr char kTransferFailedText[] = "transfer of {request} failed: {error}";
constexpr char kRejectedText[] = "rejected piece {number}";
constexpr char kStoppedText[] = "stopped before it was programmed";
constexpr char kIdentificationNotTextText[] = "the identification is not UTF-8 text";
constexpr char kVersionNotTextText[] = "the version is not UTF-8 text";

// Why a transfer failed, naming the request.
std::string TransferReason(const Outcome& o)
{
    const std::string request = RequestName(o);
    const std::string count = std::to_string(o.count);
    const std::string size = std::to_string(usb_dvk::kReportSize);
    if (o.error == usb_dvk::Error::ShortReply)
        return FillText(kShortReplyText, {{"request", request}, {"count", count}, {"size", size}});
    if (o.error == usb_dvk::Error::ShortWrite)
        return FillText(kShortWriteText, {{"request", request}, {"count", count}, {"size", size}});
    if (o.error == usb_dvk::Error::ReplyDue)
        return FillText(kNotSentText, {{"request", request}});
    if (o.error == usb_dvk::Error::Timeout)
        return FillText(kNoAnswerText,
                        {{"request", request}, {"limit", std::to_string(usb_dvk::kTransferTimeLimit.count())}});
    return FillText(kTransferFailedText, {{"request", request}, {"error", ErrorText(o.error)}});
}

// The failure of the refresh's queries of the path, if any.
const Outcome* QueryFailure(const RefreshReport& report, const std::string& path)
{
    for (const Outcome& outcome : report.outcomes) {
        if (outcome.path == path && outcome.failure != Failure::None)
            return &outcome;
    }
    return nullptr;
}

}  // namespace

std::uint32_t SystemCode(const std::error_code& error)
{
    const bool system = error.category() == std::system_category() || error.category() == std::generic_category();
    return system ? static_cast<std::uint32_t>(error.value()) : 0;
}

std::string ErrorText(const std::error_code& error)
{
    if (SystemCode(error) != 0)
        return FillText(kSystemErrorText, {{"message", error.message()}, {"code", std::to_string(SystemCode(error))}});
    return error.message();
}

std::string RequestName(const Outcome& outcome)
{
    switch (outcome.request) {
    case Request::Identification: return kIdentificationRequest;
    case Request::Version: return kVersionRequest;
    case Request::Clock: return kClockRequest;
    case Request::Piece: return FillText(kPieceRequest, {{"number", std::to_string(outcome.piece + 1)}});
    case Request::None: break;
    }
    return kAnyRequest;
}

std::string Reason(const Outcome& outcome)
{
    switch (outcome.failure) {
    case Failure::None: return {};
    case Failure::Gone: return kGoneText;
    case Failure::CannotOpen: return FillText(kCannotOpenText, {{"error", ErrorText(outcome.error)}});
    case Failure::PermissionDenied: return kPermissionText;
    case Failure::NotAController: return kNotAControllerText;
    case Failure::NoAnswer:
    case Failure::TransferFailed: return TransferReason(outcome);
    case Failure::Rejected: return FillText(kRejectedText, {{"number", std::to_string(outcome.piece + 1)}});
    case Failure::Stopped: return kStoppedText;
    case Failure::UnreadableText:
        return outcome.request == Request::Version ? kVersionNotTextText : kIdentificationNotTextText;
    }
    return {};
}

const char* FailureName(Failure failure)
{
    switch (failure) {
    case Failure::None: return "none";
    case Failure::Gone: return "gone";
    case Failure::CannotOpen: return "cannot-open";
    case Failure::PermissionDenied: return "permission-denied";
    case Failure::NotAController: return "not-a-controller";
    case Failure::NoAnswer: return "no-answer";
    case Failure::TransferFailed: return "transfer-failed";
    case Failure::Rejected: return "rejected";
    case Failure::Stopped: return "stopped";
    case Failure::UnreadableText: return "unreadable-text";
    }
    return "unknown";
}

std::string SearchStoppedText(const std::error_code& error)
{
    return FillText(kSearchStoppedText, {{"error", ErrorText(error)}});
}

std::string StatusText(const RefreshReport& report)
{
    for (const Outcome& outcome : report.outcomes) {
        if (outcome.failure == Failure::PermissionDenied)
            return kPermissionDeniedText;
    }
    if (report.listed == 0)
        return kNoControllerText;
    if (report.listed == 1)
        return kOneControllerText;
    return FillText(kControllersText, {{"count", std::to_string(report.listed)}});
}

std::string StatusText(const RefreshReport& report, const Entries& entries)
{
    std::string status = StatusText(report);
    if (!report.enumerationEnded)
        status += "\n" + SearchStoppedText(report.enumerationError);
    std::vector<std::string> failures;
    for (std::size_t row = 0; row < entries.size(); ++row) {
        const std::string number = std::to_string(row + 1);
        for (const Outcome* failure :
             {&entries[row].programFailure, QueryFailure(report, entries[row].device.GetPath())}) {
            if (failure != nullptr && failure->failure != Failure::None)
                failures.push_back(FillText(kRowFailureText, {{"row", number}, {"reason", Reason(*failure)}}));
        }
    }
    for (std::size_t i = 0; i < failures.size() && i < kStatusFailures; ++i)
        status += "\n" + failures[i];
    if (failures.size() > kStatusFailures)
        status += "\n" + FillText(kMoreFailuresText, {{"count", std::to_string(failures.size() - kStatusFailures)}});
    return status;
}

}  // namespace usb_programmer
