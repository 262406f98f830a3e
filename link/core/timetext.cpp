#include "timetext.h"

namespace ombrix {

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

Int16Result textToInt16(const QString &text, const QLocale &locale)
{
    const QString t = text.trimmed();
    const QString point = locale.decimalPoint();
    const QString minus = locale.negativeSign();
    const QString plus = locale.positiveSign();

    qsizetype i = 0;
    bool negative = false;
    if (t.startsWith(QLatin1Char('-')) || (!minus.isEmpty() && t.startsWith(minus))) {
        negative = true;
        i = t.startsWith(QLatin1Char('-')) ? 1 : minus.size();
    } else if (t.startsWith(QLatin1Char('+')) || (!plus.isEmpty() && t.startsWith(plus))) {
        i = t.startsWith(QLatin1Char('+')) ? 1 : plus.size();
    }

    // Whole part, kept exact; anything above the 16-bit range only needs to
    // be known as too large.
    constexpr qint64 tooLarge = 100000;
    qint64 whole = 0;
    int digits = 0;
    for (; i < t.size() && isDigit(t[i]); ++i, ++digits)
        whole = qMin(whole * 10 + (t[i].unicode() - '0'), tooLarge);

    // Fraction: only how it compares with one half matters.
    enum { Below, Half, Above } fraction = Below;
    if (!point.isEmpty() && QStringView(t).sliced(i).startsWith(point)) {
        i += point.size();
        bool first = true;
        bool rest = false;
        for (; i < t.size() && isDigit(t[i]); ++i, ++digits) {
            const int d = t[i].unicode() - '0';
            if (first) {
                fraction = d > 5 ? Above : d == 5 ? Half : Below;
                first = false;
            } else if (d != 0) {
                rest = true;
            }
        }
        if (fraction == Half && rest)
            fraction = Above;
    }
    if (digits == 0 || i != t.size())
        return {Int16Result::NotANumber, 0};

    if (fraction == Above || (fraction == Half && whole % 2 == 1))
        ++whole;
    const qint64 value = negative ? -whole : whole;
    if (value < -32768 || value > 32767)
        return {Int16Result::Overflow, 0};
    return {Int16Result::Ok, qint16(value)};
}

} // namespace ombrix
