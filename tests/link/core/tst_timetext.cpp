#include "timetext.h"

#include <QTest>

using namespace ombrix;

Q_DECLARE_METATYPE(Int16Result::Status)

class TestTimeText : public QObject
{
    Q_OBJECT
private slots:
    void convert_data();
    void convert();
};

void TestTimeText::convert_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Int16Result::Status>("status");
    QTest::addColumn<int>("value");

    const auto ok = Int16Result::Ok;
    const auto nan = Int16Result::NotANumber;
    const auto over = Int16Result::Overflow;
    const struct { const char *locale, *text; Int16Result::Status status; int value; } rows[] = {
        {"C", "0", ok, 0}, {"C", "255", ok, 255}, {"C", "7", ok, 7},
        {"C", "007", ok, 7}, {"C", "00", ok, 0}, {"C", "256", ok, 256},
        // halves go to the even number, other fractions to the nearest
        {"C", "0.5", ok, 0}, {"C", "1.5", ok, 2}, {"C", "2.5", ok, 2}, {"C", "3.5", ok, 4},
        {"C", "2.6", ok, 3}, {"C", "2.4", ok, 2}, {"C", "2.50001", ok, 3}, {"C", "2.49999", ok, 2},
        {"C", ".5", ok, 0}, {"C", "5.", ok, 5}, {"C", "-0.5", ok, 0}, {"C", "-1.5", ok, -2},
        // blanks and signs
        {"C", "  12  ", ok, 12}, {"C", "\t3", ok, 3}, {"C", "+9", ok, 9}, {"C", "-1", ok, -1},
        {"C", "-5", ok, -5}, {"C", " -0 ", ok, 0},
        // the 16-bit edges
        {"C", "32767", ok, 32767}, {"C", "-32768", ok, -32768}, {"C", "32768", over, 0},
        {"C", "-32769", over, 0}, {"C", "32767.5", over, 0}, {"C", "-32768.5", ok, -32768},
        {"C", "99999999999999999999", over, 0},
        // not numbers
        {"C", "", nan, 0}, {"C", "   ", nan, 0}, {"C", "-", nan, 0}, {"C", "+", nan, 0},
        {"C", ".", nan, 0}, {"C", "abc", nan, 0}, {"C", "1a", nan, 0}, {"C", "a1", nan, 0},
        {"C", "1 2", nan, 0}, {"C", "--1", nan, 0}, {"C", "1e2", nan, 0}, {"C", "&H10", nan, 0},
        {"C", "(5)", nan, 0}, {"C", "1,000", nan, 0}, {"C", "1.2.3", nan, 0}, {"C", "１２", nan, 0},
        // the user's decimal separator
        {"de_DE", "2,5", ok, 2}, {"de_DE", "3,5", ok, 4}, {"de_DE", "2,6", ok, 3},
        {"de_DE", "2.5", nan, 0}, {"de_DE", "12", ok, 12}, {"fr_FR", " 1,5 ", ok, 2},
    };
    for (const auto &r : rows)
        QTest::addRow("%s '%s'", r.locale, r.text) << QString(r.locale) << QString::fromUtf8(r.text) << r.status << r.value;
}

void TestTimeText::convert()
{
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(Int16Result::Status, status);
    QFETCH(int, value);

    const Int16Result r = textToInt16(text, QLocale(locale));
    QCOMPARE(r.status, status);
    if (status == Int16Result::Ok)
        QCOMPARE(int(r.value), value);
}

QTEST_GUILESS_MAIN(TestTimeText)
#include "tst_timetext.moc"
