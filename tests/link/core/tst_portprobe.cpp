#include "fakeserial.h"
#include "portprobe.h"

#include <QMap>
#include <QTest>

using namespace ombrix;

class TestPortProbe : public QObject
{
    Q_OBJECT
private slots:
    void probe_data();
    void probe();
    void failureDisablesItsOwnPass_data();
    void failureDisablesItsOwnPass();
    void switchClosesThenOpens_data();
    void switchClosesThenOpens();
    void switchStopsAtFirstFailure_data();
    void switchStopsAtFirstFailure();
};

using PortSet = QSet<int>;

static QList<int> probe(FakeSerial &serial)
{
    QList<int> disabled;
    PortProbe(serial, [&](int port) {
        if (!disabled.contains(port))
            disabled << port;
    });
    return disabled;
}

void TestPortProbe::probe_data()
{
    QTest::addColumn<PortSet>("present");
    QTest::addColumn<QList<int>>("disabled");
    QTest::addColumn<bool>("open");

    QTest::newRow("no ports") << PortSet{} << QList<int>{1, 2, 3, 4, 5, 6, 7, 8} << false;
    QTest::newRow("only COM3") << PortSet{3} << QList<int>{1, 2, 4, 5, 6, 7, 8} << false;
    QTest::newRow("COM8 present") << PortSet{8} << QList<int>{1, 2, 3, 4, 5, 6, 7} << true;
    QTest::newRow("all present") << PortSet{1, 2, 3, 4, 5, 6, 7, 8} << QList<int>{} << true;
    QTest::newRow("COM9 is never probed") << PortSet{9} << QList<int>{1, 2, 3, 4, 5, 6, 7, 8} << false;
}

void TestPortProbe::probe()
{
    QFETCH(PortSet, present);
    QFETCH(QList<int>, disabled);
    QFETCH(bool, open);

    FakeSerial serial;
    serial.present = present;
    QCOMPARE(::probe(serial), disabled);
    QCOMPARE(serial.isOpen(), open);
    QCOMPARE(serial.CommPort(), 8);
    QCOMPARE(serial.InputLen(), 0);
    // Every pass closes what the pass before opened.
    int openNow = 0;
    for (const QString &entry : serial.log) {
        if (entry.startsWith("open")) {
            QCOMPARE(openNow, 0);
            openNow = 1;
        } else if (entry.startsWith("close")) {
            openNow = 0;
        }
    }
}

// The calls of pass i when every port is there and nothing fails: the
// port of the pass before is open, save before the first pass.
static QStringList normalPass(int i)
{
    QStringList calls{"read"};
    if (i > FirstPort)
        calls << "close";
    return calls << QString("port %1").arg(i) << "open" << "clear" << "len 0";
}

// The calls of the probe, one list per pass.
static QList<QStringList> passes(const QStringList &tried)
{
    QList<QStringList> out;
    for (const QString &call : tried) {
        if (out.isEmpty() || call.startsWith("read"))
            out.append(QStringList());
        out.last() << call;
    }
    return out;
}

using Passes = QMap<int, QStringList>;

void TestPortProbe::failureDisablesItsOwnPass_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("op"); // -1: nothing made to fail
    QTest::addColumn<int>("times");
    QTest::addColumn<int>("absent"); // 0: every port is there
    QTest::addColumn<QList<int>>("disabled");
    QTest::addColumn<int>("endPort");
    QTest::addColumn<Passes>("changed"); // the passes whose calls differ from normalPass

    // One failing operation disables one option, whichever operation it was:
    // the option of the pass it failed in, and that pass tries every other
    // operation all the same. A failed read still goes on to the close.
    QTest::newRow("read open in pass 1")
        << 0 << int(FakeSerial::ReadOpen) << 1 << 0 << QList<int>{1} << 8
        << Passes{{1, {"read failed", "close", "port 1", "open", "clear", "len 0"}}};
    QTest::newRow("read open in pass 2")
        << 1 << int(FakeSerial::ReadOpen) << 1 << 0 << QList<int>{2} << 8
        << Passes{{2, {"read failed", "close", "port 2", "open", "clear", "len 0"}}};
    // The close of the port of pass 3 happens in pass 4 and disables option
    // 4; COM3 stays open, so pass 4 can neither move nor open, and pass 5
    // closes it.
    QTest::newRow("close in pass 4")
        << 3 << int(FakeSerial::Close) << 1 << 0 << QList<int>{4} << 8
        << Passes{{4, {"read", "close failed", "port 4 failed", "open failed", "clear", "len 0"}}};
    // COM3 will not close at all: every later pass meets the stuck port.
    Passes stuck;
    for (int i = 4; i <= LastPort; ++i)
        stuck[i] = QStringList{"read", "close failed", QString("port %1 failed").arg(i),
                               "open failed", "clear", "len 0"};
    QTest::newRow("close of COM3 always fails")
        << 3 << int(FakeSerial::Close) << -1 << 0 << QList<int>{4, 5, 6, 7, 8} << 3 << stuck;
    // Pass 5 opens COM4 again, which pass 6 closes.
    QTest::newRow("set port in pass 5")
        << 4 << int(FakeSerial::SetPort) << 1 << 0 << QList<int>{5} << 8
        << Passes{{5, {"read", "close", "port 5 failed", "open", "clear", "len 0"}}};
    // Nothing is open after pass 6, so pass 7 has nothing to close.
    const Passes noCOM6{{6, {"read", "close", "port 6", "open failed", "clear", "len 0"}},
                        {7, {"read", "port 7", "open", "clear", "len 0"}}};
    QTest::newRow("open COM6") << 6 << int(FakeSerial::Open) << 1 << 0 << QList<int>{6} << 8 << noCOM6;
    QTest::newRow("COM6 missing") << 0 << -1 << 0 << 6 << QList<int>{6} << 8 << noCOM6;
    QTest::newRow("clear input of COM2")
        << 2 << int(FakeSerial::ClearInput) << 1 << 0 << QList<int>{2} << 8
        << Passes{{2, {"read", "close", "port 2", "open", "clear failed", "len 0"}}};
    QTest::newRow("input length of COM7")
        << 7 << int(FakeSerial::SetInputLen) << 1 << 0 << QList<int>{7} << 8
        << Passes{{7, {"read", "close", "port 7", "open", "clear", "len 0 failed"}}};
}

void TestPortProbe::failureDisablesItsOwnPass()
{
    QFETCH(int, port);
    QFETCH(int, op);
    QFETCH(int, times);
    QFETCH(int, absent);
    QFETCH(QList<int>, disabled);
    QFETCH(int, endPort);
    QFETCH(Passes, changed);

    FakeSerial serial;
    serial.present = {1, 2, 3, 4, 5, 6, 7, 8};
    serial.present.remove(absent);
    serial.startAt(0);
    if (op >= 0)
        serial.failOn(port, FakeSerial::Op(op), times);
    QCOMPARE(::probe(serial), disabled);
    QVERIFY(serial.isOpen());
    QCOMPARE(serial.CommPort(), endPort);

    const QList<QStringList> got = passes(serial.tried);
    QCOMPARE(int(got.size()), LastPort - FirstPort + 1);
    for (int i = FirstPort; i <= LastPort; ++i) {
        const QStringList want = changed.value(i, normalPass(i));
        const QStringList &calls = got.at(i - FirstPort);
        QVERIFY2(calls == want,
                 qPrintable(QString("pass %1: %2; expected %3").arg(i).arg(calls.join(", "), want.join(", "))));
    }
}

void TestPortProbe::switchClosesThenOpens_data()
{
    QTest::addColumn<int>("openBefore");
    QTest::addColumn<int>("chosen");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("COM5 while COM2 is open") << 2 << 5 << QStringList{"close 2", "port 5", "open 5", "clear"};
    QTest::newRow("the port already open") << 8 << 8 << QStringList{"close 8", "port 8", "open 8", "clear"};
    QTest::newRow("none open") << 0 << 3 << QStringList{"port 3", "open 3", "clear"};
}

void TestPortProbe::switchClosesThenOpens()
{
    QFETCH(int, openBefore);
    QFETCH(int, chosen);
    QFETCH(QStringList, log);

    FakeSerial serial;
    serial.present = {2, 3, 5, 8};
    if (openBefore) {
        serial.setCommPort(openBefore);
        serial.setPortOpen(true);
    }
    serial.buffer = "stale";
    serial.setInputLen(4);
    serial.log.clear();

    QVERIFY(PortSwitch(serial, chosen));
    QCOMPARE(serial.log, log);
    QVERIFY(serial.isOpen());
    QCOMPARE(serial.CommPort(), chosen);
    QCOMPARE(serial.InBufferCount(), 0);
    QCOMPARE(serial.InputLen(), 0);
}

void TestPortProbe::switchStopsAtFirstFailure_data()
{
    QTest::addColumn<int>("failingPort");
    QTest::addColumn<int>("op"); // -1: nothing made to fail
    QTest::addColumn<PortSet>("present");
    QTest::addColumn<QStringList>("tried");
    QTest::addColumn<QStringList>("log"); // what took effect
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("port");

    // From COM2 open to COM5: the calls before the failing one took effect,
    // none after it ran.
    const PortSet both{2, 5};
    QTest::newRow("read open")
        << 2 << int(FakeSerial::ReadOpen) << both << QStringList{"read failed"} << QStringList{} << true << 2;
    QTest::newRow("close")
        << 2 << int(FakeSerial::Close) << both << QStringList{"read", "close failed"} << QStringList{} << true << 2;
    QTest::newRow("set port")
        << 2 << int(FakeSerial::SetPort) << both << QStringList{"read", "close", "port 5 failed"}
        << QStringList{"close 2"} << false << 2;
    QTest::newRow("open")
        << 5 << int(FakeSerial::Open) << both << QStringList{"read", "close", "port 5", "open failed"}
        << QStringList{"close 2", "port 5"} << false << 5;
    QTest::newRow("COM5 missing")
        << 0 << -1 << PortSet{2} << QStringList{"read", "close", "port 5", "open failed"}
        << QStringList{"close 2", "port 5"} << false << 5;
    QTest::newRow("clear input")
        << 5 << int(FakeSerial::ClearInput) << both << QStringList{"read", "close", "port 5", "open", "clear failed"}
        << QStringList{"close 2", "port 5", "open 5"} << true << 5;
    QTest::newRow("input length")
        << 5 << int(FakeSerial::SetInputLen) << both
        << QStringList{"read", "close", "port 5", "open", "clear", "len 0 failed"}
        << QStringList{"close 2", "port 5", "open 5", "clear"} << true << 5;
}

void TestPortProbe::switchStopsAtFirstFailure()
{
    QFETCH(int, failingPort);
    QFETCH(int, op);
    QFETCH(PortSet, present);
    QFETCH(QStringList, tried);
    QFETCH(QStringList, log);
    QFETCH(bool, open);
    QFETCH(int, port);

    FakeSerial serial;
    serial.present = present;
    QVERIFY(serial.setCommPort(2));
    QVERIFY(serial.setPortOpen(true));
    serial.tried.clear();
    serial.log.clear();
    if (op >= 0)
        serial.failOn(failingPort, FakeSerial::Op(op));

    QVERIFY(!PortSwitch(serial, 5));
    QCOMPARE(serial.tried, tried);
    QCOMPARE(serial.log, log);
    QCOMPARE(serial.isOpen(), open);
    QCOMPARE(serial.CommPort(), port);
}

QTEST_GUILESS_MAIN(TestPortProbe)
#include "tst_portprobe.moc"
