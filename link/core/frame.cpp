#include "frame.h"

namespace ombrix {

unsigned char FrameCheck(const QByteArray &bytesBefore)
{
    unsigned char c = FrameMarker;
    for (char b : bytesBefore)
        c ^= static_cast<unsigned char>(b);
    return c;
}

QByteArray buildFrame(FrameOp op, const QByteArray &payload)
{
    QByteArray frame;
    frame.reserve(payload.size() + 4);
    frame.append(char(op));
    frame.append(char(payload.size() + 2));
    frame.append(char(FrameMarker));
    frame.append(payload);
    frame.append(char(FrameCheck(frame)));
    return frame;
}

QByteArray CommandFrame(FrameOp op)
{
    return buildFrame(op, QByteArray(1, char(CommandParam)));
}

} // namespace ombrix
