#pragma once

// Bytes as the tests write them down and print them.

#include <QByteArray>
#include <QString>

#include <initializer_list>

namespace probe {

// Bytes from hex digits; anything else between them (spaces) is skipped.
inline QByteArray hex(const QByteArray &digits)
{
    return QByteArray::fromHex(digits);
}

// Bytes from their values.
inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// Every byte XORed together.
inline unsigned char xorAll(const QByteArray &bytes)
{
    unsigned char all = 0;
    for (char b : bytes)
        all ^= static_cast<unsigned char>(b);
    return all;
}

// Bytes as spaced hex digits, for failure messages.
inline QString hexText(const QByteArray &b)
{
    return QString::fromLatin1(b.toHex(' '));
}

} // namespace probe
