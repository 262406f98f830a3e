// textToInt16 against a reference written here from the accepted forms in
// timetext.h alone: it works on UTF-16 code units, keeps every digit it
// reads and rounds through scaled integers, so it shares no shortcut with
// the code under test.
//
// Byte 0 picks the locale and how the rest becomes text; aborts on any
// difference in status, or in value when both say Ok.

#include "timetext.h"

#include <QLocale>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace ombrix;

namespace {

// Locales that write digits as 0-9: one with a point, the comma ones with
// a plain and a typographic minus, and one whose signs carry a direction mark.
const char *const localeNames[] = {"C", "de_DE", "sv_SE", "he_IL"};

// Unicode White_Space: what "blanks" means around the number.
bool isBlank(char16_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680
        || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F
        || c == 0x3000;
}

bool isAsciiDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

std::u16string utf16(const QString &s)
{
    return std::u16string(reinterpret_cast<const char16_t *>(s.utf16()), size_t(s.size()));
}

bool startsWith(const std::u16string &s, size_t at, const std::u16string &prefix)
{
    return !prefix.empty() && s.compare(at, prefix.size(), prefix) == 0;
}

struct Expected
{
    Int16Result::Status status = Int16Result::NotANumber;
    int value = 0;
};

// Whole part, separator, fraction, end: all of s from `at` must be used.
bool readNumber(const std::u16string &s, size_t at, const std::u16string &point, std::string &whole,
                std::string &fraction)
{
    size_t i = at;
    while (i < s.size() && isAsciiDigit(s[i]))
        whole += char(s[i++]);
    if (startsWith(s, i, point)) {
        i += point.size();
        while (i < s.size() && isAsciiDigit(s[i]))
            fraction += char(s[i++]);
    }
    return i == s.size() && !(whole.empty() && fraction.empty());
}

Expected reference(const QString &text, const QLocale &locale)
{
    const std::u16string all = utf16(text);
    size_t begin = 0;
    size_t end = all.size();
    while (begin < end && isBlank(all[begin]))
        ++begin;
    while (end > begin && isBlank(all[end - 1]))
        --end;
    const std::u16string s = all.substr(begin, end - begin);
    const std::u16string point = utf16(locale.decimalPoint());

    // [sign]: none, an ASCII one or the locale's own; the first reading
    // that leaves a number wins.
    struct Sign
    {
        std::u16string text;
        bool negative;
    };
    const Sign signs[] = {{u"-", true}, {utf16(locale.negativeSign()), true}, {u"+", false},
                          {utf16(locale.positiveSign()), false}, {u"", false}};
    for (const Sign &sign : signs) {
        if (!sign.text.empty() && !startsWith(s, 0, sign.text))
            continue;
        std::string whole, fraction;
        if (!readNumber(s, sign.text.size(), point, whole, fraction))
            continue;

        const size_t lead = whole.find_first_not_of('0');
        whole = lead == std::string::npos ? std::string() : whole.substr(lead);
        if (whole.size() > 5) // at least 100000 before any rounding
            return {Int16Result::Overflow, 0};

        // Up to 13 fraction digits exactly (99999 * 10^13 still fits in 64
        // bits); past them only whether some digit is not zero matters.
        const size_t kept = std::min<size_t>(fraction.size(), 13);
        const bool sticky = fraction.find_first_not_of('0', kept) != std::string::npos;
        std::int64_t scale = 1;
        for (size_t k = 0; k < kept; ++k)
            scale *= 10;
        std::int64_t scaled = 0;
        for (char c : whole)
            scaled = scaled * 10 + (c - '0');
        const std::int64_t integer = scaled;
        for (size_t k = 0; k < kept; ++k)
            scaled = scaled * 10 + (fraction[k] - '0');
        const std::int64_t remainder = scaled - integer * scale; // fraction * scale
        std::int64_t magnitude = integer;
        const std::int64_t twice = 2 * remainder;
        if (twice > scale || (twice == scale && (sticky || integer % 2 != 0)))
            ++magnitude;
        const std::int64_t value = sign.negative ? -magnitude : magnitude;
        if (value < -32768 || value > 32767)
            return {Int16Result::Overflow, 0};
        return {Int16Result::Ok, int(value)};
    }
    return {};
}

// Typed text drawn from characters that sit near the edges of the grammar.
const char16_t tokens[32] = {
    u'0', u'1', u'2', u'3', u'4', u'5', u'6', u'7', u'8', u'9', u'.', u',', u'+', u'-', u' ', u'\t',
    0x00A0, 0x2212, 0x200E, 0x202F, 0x3000, 0x0660, 0xFF11, u'e', u'x', u'(', u')', u'\n', 0x2028,
    0x066B, 0x061C, 0xD800,
};

QString textOf(int how, const std::uint8_t *data, size_t size)
{
    switch (how) {
    case 0:
        return QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
    case 1:
        return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    case 2: {
        QString t;
        for (size_t i = 0; i < size; ++i)
            t += QChar(tokens[data[i] % 32]);
        return t;
    }
    default: {
        QString t;
        for (size_t i = 0; i + 1 < size; i += 2)
            t += QChar(char16_t(data[i] | data[i + 1] << 8));
        return t;
    }
    }
}

const char *statusName(int s)
{
    return s == Int16Result::Ok ? "Ok" : s == Int16Result::Overflow ? "Overflow" : "NotANumber";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    if (size < 1 || size > 256)
        return 0;
    static const std::vector<QLocale> locales = [] {
        std::vector<QLocale> l;
        for (const char *name : localeNames)
            l.emplace_back(QString::fromLatin1(name));
        return l;
    }();
    const QLocale &locale = locales[data[0] % locales.size()];
    const QString text = textOf((data[0] >> 2) % 4, data + 1, size - 1);

    const Int16Result got = textToInt16(text, locale);
    const Expected want = reference(text, locale);
    if (got.status != want.status || (want.status == Int16Result::Ok && got.value != want.value)) {
        std::fprintf(stderr, "textToInt16 in %s of \"%s\" (UTF-16:", qPrintable(locale.name()),
                     text.toUtf8().constData());
        for (QChar c : text)
            std::fprintf(stderr, " %04X", c.unicode());
        std::fprintf(stderr, "): got %s %d, expected %s %d\n", statusName(got.status), int(got.value),
                     statusName(want.status), want.value);
        std::abort();
    }
    return 0;
}
