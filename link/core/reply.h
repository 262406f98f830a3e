#pragma once

#include <QByteArray>
#include <QString>

namespace ombrix {

// Quiet time on the line that ends a reply.
constexpr int ReplyGap = 110; // ms

// The firmware version in a reply that starts with OpVersion: bytes 1 to
// n-1, where n is the count of bytes that were waiting when the tick came;
// bytes taken beyond n are not shown. Each byte is one character on its own,
// read as ISO 8859-1, so every byte value shows as a character of its own and
// two bytes are never joined into one. Nothing is stripped.
QString versionText(const QByteArray &block, int n);

} // namespace ombrix
