#include "tests/support/ControllerModel.h"

#include <algorithm>
#include <cstring>

namespace dvk_model {

namespace {

// True when the report starts with the text and its terminating zero.
bool IsRequest(const Report& request, const char* text)
{
    const std::size_t length = std::strlen(text);
    return std::memcmp(request.data(), text, length + 1) == 0;
}

Report TextReply(const std::string& text)
{
    Report reply{};
    std::copy_n(text.begin(), std::min(text.size(), reply.size()), reply.begin());
    return reply;
}

}  // namespace

bool IsDataPiece(const Report& request)
{
    return request[0] == 'D';
}

ControllerModel::ControllerModel(ControllerConfig config) : config(std::move(config))
{ }

std::optional<Report> ControllerModel::Handle(const Report& request)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (neverAnswers || vanished)
        return std::nullopt;
    return Answer(request);
}

Report ControllerModel::Answer(const Report& request)
{
    if (IsRequest(request, "ID"))
        return TextReply(config.id);
    if (IsRequest(request, "VER"))
        return TextReply(config.version);
    if (IsRequest(request, "GETTIME")) {
        Report reply{};
        std::copy(config.clock.begin(), config.clock.end(), reply.begin());
        return reply;
    }
    if (IsDataPiece(request))
        return StorePiece(request);
    return Report{};  // an unknown request: an empty answer
}

Report ControllerModel::StorePiece(const Report& request)
{
    const std::uint16_t offset = static_cast<std::uint16_t>(request[1] | (request[2] << 8));
    // A count beyond what a report can carry is cut to the report.
    const std::uint8_t count = std::min<std::uint8_t>(request[3], 60);
    const bool accepted = static_cast<int>(pieces.size()) != rejectedPiece;
    pieces.push_back(Piece{offset, count, accepted});
    if (!accepted)
        return TextReply("NO");
    if (received.size() < static_cast<std::size_t>(offset) + count)
        received.resize(static_cast<std::size_t>(offset) + count);
    std::copy_n(request.begin() + 4, count, received.begin() + offset);
    return TextReply("OK");
}

std::vector<std::uint8_t> ControllerModel::Received() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return received;
}

std::vector<Piece> ControllerModel::Pieces() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return pieces;
}

int ControllerModel::PiecesReceived() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(pieces.size());
}

void ControllerModel::ClearReceived()
{
    std::lock_guard<std::mutex> lock(mutex);
    received.clear();
    pieces.clear();
}

void ControllerModel::RejectPiece(int pieceIndex)
{
    std::lock_guard<std::mutex> lock(mutex);
    rejectedPiece = pieceIndex;
}

void ControllerModel::SetNeverAnswers(bool never)
{
    std::lock_guard<std::mutex> lock(mutex);
    neverAnswers = never;
}

void ControllerModel::SetShortReplies(bool value)
{
    std::lock_guard<std::mutex> lock(mutex);
    shortReplies = value;
}

bool ControllerModel::ShortReplies() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return shortReplies;
}

void ControllerModel::SetVanished(bool value)
{
    std::lock_guard<std::mutex> lock(mutex);
    vanished = value;
}

bool ControllerModel::Vanished() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return vanished;
}

void ControllerModel::SetConfig(ControllerConfig value)
{
    std::lock_guard<std::mutex> lock(mutex);
    config = std::move(value);
}

ControllerConfig ControllerModel::Config() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return config;
}

}  // namespace dvk_model
