#pragma once

#include <QLocale>
#include <QString>

namespace ombrix {

// Text typed into a time box, read as a signed 16-bit whole number.
struct Int16Result
{
    enum Status { Ok, NotANumber, Overflow };
    Status status = NotANumber;
    qint16 value = 0;

    bool ok() const { return status == Ok; }
};

// Reads [blanks][sign]digits[separator digits][blanks], where the separator
// is the locale's decimal point and the sign is + or - (or the locale's own
// signs); digits may stand on one side of the separator only (".5", "5.").
// A fraction rounds to the nearest whole number, a half to the even one.
// Beyond -32768..32767 is an overflow. Nothing else is a number: no digit
// grouping, exponent, currency sign, radix prefix or bracketed minus.
Int16Result textToInt16(const QString &text, const QLocale &locale = QLocale());

} // namespace ombrix
