// A model of the Dravik controller's side of the USB conversation: it takes
// one 64-byte output report and gives the 64-byte input report the
// controller would answer with. It knows the three queries (identification,
// version, clock) and the data pieces, which it stores by offset and
// acknowledges with "OK". It can be told to misbehave the ways a real
// controller or its cable can.
//
// The model knows nothing of the transport: whoever carries its reports
// (the test platform layer of usb_dvk, a virtual HID device) reads the
// transport flags (ShortReplies, Vanished) and acts on them.
//
// All members may be called from different threads.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace dvk_model {

using Report = std::array<std::uint8_t, 64>;

struct ControllerConfig {
    std::string id;                     // identification text, at most 64 bytes
    std::string version;                // version text, at most 64 bytes
    std::array<std::uint8_t, 3> clock;  // clock reply bytes: day mask | seconds bit 16, seconds bits 15-8, 7-0
};

// One data piece as it arrived.
struct Piece {
    std::uint16_t offset;
    std::uint8_t count;
    bool accepted;
};

class ControllerModel {
public:
    explicit ControllerModel(ControllerConfig config);

    // One output report in; the input report to answer with, or nothing when
    // the controller does not answer (never-answering or vanished).
    std::optional<Report> Handle(const Report& request);

    // Message bytes stored by the accepted data pieces, each at its offset;
    // the size is one past the highest byte stored.
    std::vector<std::uint8_t> Received() const;
    // Data pieces that arrived (accepted or rejected), in order.
    std::vector<Piece> Pieces() const;
    int PiecesReceived() const;
    // Forgets the stored bytes and the pieces.
    void ClearReceived();

    // The piece with this index (0 is the first piece after construction or
    // ClearReceived) is answered with "NO" instead of "OK" and not stored.
    // -1 rejects nothing.
    void RejectPiece(int pieceIndex);
    // Every request goes unanswered.
    void SetNeverAnswers(bool never);
    // Transport flag: replies are to be delivered shorter than 64 bytes.
    void SetShortReplies(bool shortReplies);
    bool ShortReplies() const;
    // Transport flag: the device is gone as if unplugged; it cannot be
    // opened, and nothing is answered.
    void SetVanished(bool vanished);
    bool Vanished() const;

    void SetConfig(ControllerConfig config);
    ControllerConfig Config() const;

private:
    Report Answer(const Report& request);
    Report StorePiece(const Report& request);

    mutable std::mutex mutex;
    ControllerConfig config;
    std::vector<std::uint8_t> received;
    std::vector<Piece> pieces;
    int rejectedPiece = -1;
    bool neverAnswers = false;
    bool shortReplies = false;
    bool vanished = false;
};

// True for a data piece (as opposed to a query), for transports that treat
// the two apart (for instance to answer only the queries short).
bool IsDataPiece(const Report& request);

}  // namespace dvk_model
