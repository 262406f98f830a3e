#pragma once

#include <QByteArray>

namespace ombrix {

// Byte 0 of every frame sent and of every reply.
enum FrameOp : unsigned char {
    OpVersion = 0,
    OpIrTest = 1,
    OpWrite = 2,
    OpRead = 3,
};

constexpr unsigned char FrameMarker = 0x5A;
constexpr unsigned char CommandParam = 0;

// 0x5A XOR every byte given (all the bytes of a frame before its check byte).
unsigned char FrameCheck(const QByteArray &bytesBefore);

// op, length (bytes after it, check included), marker, payload, check.
QByteArray buildFrame(FrameOp op, const QByteArray &payload);

// The 5-byte command: 00 03 5A 00 03, 01 03 5A 00 02 or 03 03 5A 00 00.
QByteArray CommandFrame(FrameOp op);

} // namespace ombrix
