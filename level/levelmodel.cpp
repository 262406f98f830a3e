#include "levelmodel.h"

#include "frame.h"

namespace ombrix {

QByteArray LevelFrame(const LevelRecord &record)
{
    const char payload[] = {char(record.HighSeconds), char(record.StopSeconds), char(record.LowSeconds)};
    return buildFrame(OpWrite, QByteArray(payload, sizeof payload));
}

std::optional<LevelRecord> LevelReply(const QByteArray &block)
{
    if (block.size() < LevelReplyMinLength)
        return std::nullopt;
    return LevelRecord{std::uint8_t(block[3]), std::uint8_t(block[4]), std::uint8_t(block[5])};
}

} // namespace ombrix
