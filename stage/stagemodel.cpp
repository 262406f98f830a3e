#include "stagemodel.h"

#include "frame.h"

namespace ombrix {

QByteArray WriteFrame(const StageProgramme &programme)
{
    QByteArray payload;
    payload.reserve(2 * StageCount * FunctionCount);
    for (const FunctionProgram &function : programme)
        for (const StageSetting &stage : function)
            payload.append(char(stage.time));
    for (const FunctionProgram &function : programme)
        for (const StageSetting &stage : function)
            payload.append(char(stage.speed));
    return buildFrame(OpWrite, payload);
}

std::optional<ParamValues> ParamReply(const QByteArray &block)
{
    if (block.size() < ParamReplyMinLength)
        return std::nullopt;
    const auto byte = [&](int i) { return std::uint8_t(block[i]); };
    ParamValues v;
    for (int f = 0; f < FunctionCount; ++f) {
        for (int k = 0; k < StageCount; ++k) {
            v.time[f][k] = byte(3 + StageCount * f + k);
            const std::uint8_t speed = byte(13 + StageCount * f + k);
            if (speed <= SpeedHigh)
                v.speed[f][k] = speed;
        }
    }
    return v;
}

} // namespace ombrix
