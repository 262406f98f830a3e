#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>

namespace ombrix {

// The three durations in their order on the wire, whole seconds each.
struct LevelRecord
{
    std::uint8_t HighSeconds;
    std::uint8_t StopSeconds;
    std::uint8_t LowSeconds;

    friend bool operator==(const LevelRecord &a, const LevelRecord &b)
    {
        return a.HighSeconds == b.HighSeconds && a.StopSeconds == b.StopSeconds && a.LowSeconds == b.LowSeconds;
    }
};

constexpr LevelRecord LevelDefaults = {10, 2, 10};
constexpr int LevelReplyMinLength = 6;

// 02 05 5A, high, stop, low, check byte.
QByteArray LevelFrame(const LevelRecord &record);

// Bytes 3, 4 and 5 of a block that starts with OpRead; nothing else is read.
// A block too short to hold all three gives nothing, so a window never
// shows half a reply.
std::optional<LevelRecord> LevelReply(const QByteArray &block);

} // namespace ombrix
