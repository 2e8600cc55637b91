#include "usb/OutcomeText.h"

#include <vector>

#include "core/TextTemplate.h"
#include "core/Translatable.h"

namespace usb_programmer {

namespace {

using dvk::FillText;

// The texts.
constexpr char kNoControllerText[] = DVK_TEXT("No controller found.");
constexpr char kOneControllerText[] = DVK_TEXT("1 controller found.");
constexpr char kControllersText[] = DVK_TEXT("{count} controllers found.");
constexpr char kSearchStoppedText[] =
    DVK_TEXT("the search for controllers stopped early: {error}; some may be missing");
constexpr char kRowFailureText[] = DVK_TEXT("controller {row}: {reason}");
constexpr char kMoreFailuresText[] = DVK_TEXT("and {count} more");

constexpr char kSystemErrorText[] = DVK_TEXT("{message} (error {code})");

constexpr char kIdentificationRequest[] = DVK_TEXT("the identification request");
constexpr char kVersionRequest[] = DVK_TEXT("the version request");
constexpr char kClockRequest[] = DVK_TEXT("the clock request");
constexpr char kPieceRequest[] = DVK_TEXT("piece {number}");
constexpr char kAnyRequest[] = DVK_TEXT("a request");

constexpr char kGoneText[] = DVK_TEXT("no longer attached");
constexpr char kCannotOpenText[] = DVK_TEXT("could not open: {error}");
constexpr char kPermissionText[] = DVK_TEXT("could not open: permission denied");
constexpr char kNotAControllerText[] = DVK_TEXT("not a controller: the device has other vendor and product ids");
constexpr char kShortReplyText[] = DVK_TEXT("short reply to {request}: {count} of {size} bytes");
constexpr char kShortWriteText[] = DVK_TEXT("short write of {request}: {count} of {size} bytes");
constexpr char kNotSentText[] = DVK_TEXT("{request} not sent: no answer yet to an earlier request");
constexpr char kNoAnswerText[] = DVK_TEXT("no answer to {request} within {limit} ms");
constexpr char kTransferFailedText[] = DVK_TEXT("transfer of {request} failed: {error}");
constexpr char kRejectedText[] = DVK_TEXT("rejected piece {number}");
constexpr char kStoppedText[] = DVK_TEXT("stopped before it was programmed");
constexpr char kIdentificationNotTextText[] = DVK_TEXT("the identification is not UTF-8 text");
constexpr char kVersionNotTextText[] = DVK_TEXT("the version is not UTF-8 text");

// Why a transfer failed, naming the request.
std::string TransferReason(const Outcome& o, Translate translate)
{
    const std::string request = RequestName(o, translate);
    const std::string count = std::to_string(o.count);
    const std::string size = std::to_string(usb_dvk::kReportSize);
    if (o.error == usb_dvk::Error::ShortReply)
        return FillText(translate(kShortReplyText), {{"request", request}, {"count", count}, {"size", size}});
    if (o.error == usb_dvk::Error::ShortWrite)
        return FillText(translate(kShortWriteText), {{"request", request}, {"count", count}, {"size", size}});
    if (o.error == usb_dvk::Error::ReplyDue)
        return FillText(translate(kNotSentText), {{"request", request}});
    if (o.error == usb_dvk::Error::Timeout)
        return FillText(translate(kNoAnswerText),
                        {{"request", request}, {"limit", std::to_string(usb_dvk::kTransferTimeLimit.count())}});
    return FillText(translate(kTransferFailedText), {{"request", request}, {"error", ErrorText(o.error, translate)}});
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

std::string KeepEnglish(const char* english)
{
    return english;
}

std::string ErrorText(const std::error_code& error, Translate translate)
{
    if (SystemCode(error) != 0)
        return FillText(translate(kSystemErrorText),
                        {{"message", error.message()}, {"code", std::to_string(SystemCode(error))}});
    // The transport's own texts are marked for the catalogues where they are written.
    return translate(error.message().c_str());
}

std::string RequestName(const Outcome& outcome, Translate translate)
{
    switch (outcome.request) {
    case Request::Identification: return translate(kIdentificationRequest);
    case Request::Version: return translate(kVersionRequest);
    case Request::Clock: return translate(kClockRequest);
    case Request::Piece: return FillText(translate(kPieceRequest), {{"number", std::to_string(outcome.piece + 1)}});
    case Request::None: break;
    }
    return translate(kAnyRequest);
}

std::string Reason(const Outcome& outcome, Translate translate)
{
    switch (outcome.failure) {
    case Failure::None: return {};
    case Failure::Gone: return translate(kGoneText);
    case Failure::CannotOpen:
        return FillText(translate(kCannotOpenText), {{"error", ErrorText(outcome.error, translate)}});
    case Failure::PermissionDenied: return translate(kPermissionText);
    case Failure::NotAController: return translate(kNotAControllerText);
    case Failure::NoAnswer:
    case Failure::TransferFailed: return TransferReason(outcome, translate);
    case Failure::Rejected: return FillText(translate(kRejectedText), {{"number", std::to_string(outcome.piece + 1)}});
    case Failure::Stopped: return translate(kStoppedText);
    case Failure::UnreadableText:
        return translate(outcome.request == Request::Version ? kVersionNotTextText : kIdentificationNotTextText);
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

std::string SearchStoppedText(const std::error_code& error, Translate translate)
{
    return FillText(translate(kSearchStoppedText), {{"error", ErrorText(error, translate)}});
}

std::string StatusText(const RefreshReport& report, Translate translate)
{
    for (const Outcome& outcome : report.outcomes) {
        if (outcome.failure == Failure::PermissionDenied)
            return translate(kPermissionDeniedText);
    }
    if (report.listed == 0)
        return translate(kNoControllerText);
    if (report.listed == 1)
        return translate(kOneControllerText);
    return FillText(translate(kControllersText), {{"count", std::to_string(report.listed)}});
}

std::string StatusText(const RefreshReport& report, const Entries& entries, Translate translate)
{
    std::string status = StatusText(report, translate);
    if (!report.enumerationEnded)
        status += "\n" + SearchStoppedText(report.enumerationError, translate);
    std::vector<std::string> failures;
    for (std::size_t row = 0; row < entries.size(); ++row) {
        const std::string number = std::to_string(row + 1);
        for (const Outcome* failure :
             {&entries[row].programFailure, QueryFailure(report, entries[row].device.GetPath())}) {
            if (failure != nullptr && failure->failure != Failure::None)
                failures.push_back(
                    FillText(translate(kRowFailureText), {{"row", number}, {"reason", Reason(*failure, translate)}}));
        }
    }
    for (std::size_t i = 0; i < failures.size() && i < kStatusFailures; ++i)
        status += "\n" + failures[i];
    if (failures.size() > kStatusFailures)
        status += "\n" +
            FillText(translate(kMoreFailuresText), {{"count", std::to_string(failures.size() - kStatusFailures)}});
    return status;
}

}  // namespace usb_programmer
