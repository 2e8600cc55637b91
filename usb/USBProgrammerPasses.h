// The work of the USB programmer dialog without its windows: the refresh
// pass, which brings the device entries up to date with the controllers
// plugged in and gives every row its text, and the programming pass, which
// delivers the message to every listed controller and marks its row.
//
// Entry i always belongs to row i of the dialog's list. A pass does not
// touch the list itself: it reports each change of the list, in order, to
// a sink, so a pass can run on a worker thread while the list's owner
// applies the changes on its own thread. Each pass also returns what became
// of every device it dealt with, and why a device failed.
//
// A pass serves its devices side by side, each on a thread of its own that
// asks its device one question at a time and ends with the pass, so that a
// pass takes about as long as its slowest device. The changes of the list
// still reach the sink in row order, from the thread that runs the pass,
// exactly as if the devices had been served one after another: a change for
// a row waits until every row before it is done.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/Translatable.h"
#include "usb/USBTimerDevice.h"
#include "usb/usb_dvk.h"

namespace usb_programmer {

constexpr std::uint16_t kVendorId = 0x04D8;
constexpr std::uint16_t kProductId = 0x003F;
// The row text of a device that was just found.
constexpr char kCheckingText[] = DVK_TEXT("Checking...");
// At most this many devices are served at once; the others wait for a free
// thread. Neither USB nor the systems need a limit: a line of machines has
// far fewer controllers, and the bus shares its time among transfers by
// itself. It bounds what a long list costs, a thread and two open files
// per device, well below the systems' limits (1024 open files per process
// by default on Linux).
constexpr std::size_t kMaxConcurrentDevices = 64;

// One change of the list. Texts are UTF-8.
struct RowChange {
    enum class Kind { Append, SetText, SetCheck, Delete };
    Kind kind;
    std::size_t row;
    std::string text;  // Append, SetText
    bool checked;      // SetCheck
};
using RowSink = std::function<void(const RowChange&)>;

// Why a pass could not use a device.
enum class Failure {
    None,
    Gone,              // no longer among the controllers found
    CannotOpen,        // it did not open (error: the system's)
    PermissionDenied,  // it did not open for lack of permission
    NotAController,    // what the path opened has other vendor and product ids
    NoAnswer,          // a write or read ran out of time, or a reply is still due from an earlier one
    TransferFailed,    // a write or read failed (error: the system's) or fell short (count)
    Rejected,          // a data piece was answered without "OK"
    Stopped,           // the pass was stopped before it got to the device
    UnreadableText,    // the identification or version it sent is not UTF-8 text
};

// The request that a failure belongs to.
enum class Request { None, Identification, Version, Clock, Piece };

// What a pass did with one device.
struct Outcome {
    std::string path;
    Failure failure = Failure::None;
    std::error_code error;            // of the failed open, write or read
    Request request = Request::None;  // a failed transfer or an unreadable text: whose
    std::size_t piece = 0;            // Request::Piece: the piece (0 is the first)
    int count = 0;                    // a short write or reply: the report bytes it moved
};

// One listed controller.
struct Entry {
    usb_dvk::Device device;
    bool programmed = false;  // result of the latest programming attempt that connected
    // Why the latest programming attempt failed; Failure::None when it
    // succeeded or none was made. Like the mark, it holds until the next
    // attempt.
    Outcome programFailure;
    // A connection whose replies were not all read by the end of a pass:
    // kept open, so that they are taken when they come instead of being
    // read later as answers to other requests. Later passes send nothing to
    // the device until they have all come.
    std::unique_ptr<USBTimerDevice> awaiting;
};
using Entries = std::vector<Entry>;

struct RefreshReport {
    bool enumerationEnded = false;  // the enumeration ran to its end
    std::error_code enumerationError;
    std::size_t listed = 0;  // entries (and rows) after the pass
    // Every entry the walk came to, in order: a listed one with None or the
    // failure of its queries, a removed one with the reason.
    std::vector<Outcome> outcomes;
};

// Whether an entry holds the device's path, byte for byte.
bool HasDevice(const Entries& entries, const usb_dvk::Device& device);

// Enumerates the controllers, appends an entry and a "Checking..." row for
// every one not listed yet, then walks the entries in turn: one whose path
// was not found (when the enumeration ran to its end) or that does not
// connect is removed with its row; one that connects gets its row text
// (identification " v" version " " clock) and its mark from its programmed
// flag. Once a query has run out of time, the device's further queries fail
// without being sent, in this pass and in later ones until its late replies
// have come. A set stop flag ends the pass between two queries of each
// device: the rows from the first device it stopped on keep what they show.
// The devices are opened through the system's platform.
RefreshReport RefreshPass(usb_dvk::System& system, Entries& entries, const RowSink& sink,
                          const std::atomic<bool>* stop = nullptr);

// Delivers the message to every entry, opening the devices through the
// platform: the programmed flag of an entry that connects becomes the
// delivery's result (false while replies are still due from an earlier
// pass), and every entry it came to keeps its outcome as its programming
// failure; every row's mark is set from its entry's flag. A set stop flag ends
// the pass before each device's delivery: a delivery under way goes on to
// its end. Returns one outcome per entry, in row order (None: programmed).
std::vector<Outcome> ProgramPass(usb_dvk::Platform& platform, Entries& entries,
                                 const std::vector<unsigned char>& message, const RowSink& sink,
                                 const std::atomic<bool>* stop = nullptr);

// The UTF-8 text itself when it is valid UTF-8, else the empty text (as the
// toolkit's strict conversion gives).
std::string ValidUtf8OrEmpty(const std::string& text);

// The list's rows held in memory, for users of the passes without a window.
struct Rows {
    std::vector<std::string> texts;
    std::vector<bool> checked;
    void Apply(const RowChange& change);
};

}  // namespace usb_programmer
