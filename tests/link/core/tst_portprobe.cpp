#include "fakeserial.h"
#include "portprobe.h"

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
    void failedCloseCarriesOnWithoutTest();
    void switchClosesThenOpens_data();
    void switchClosesThenOpens();
    void switchThrowsAfterEarlierStepsTookEffect();
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

void TestPortProbe::failureDisablesItsOwnPass_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("op");
    QTest::addColumn<QList<int>>("disabled");

    // With every port present, one failing operation disables one option,
    // whichever operation it was: the option of the pass it failed in. The
    // close of the port of pass 3 happens in pass 4 and disables option 4.
    QTest::newRow("read open in pass 2") << 1 << int(FakeSerial::ReadOpen) << QList<int>{2};
    QTest::newRow("close in pass 4") << 3 << int(FakeSerial::Close) << QList<int>{4};
    QTest::newRow("set port in pass 5") << 4 << int(FakeSerial::SetPort) << QList<int>{5};
    QTest::newRow("open COM6") << 6 << int(FakeSerial::Open) << QList<int>{6};
    QTest::newRow("clear input of COM2") << 2 << int(FakeSerial::ClearInput) << QList<int>{2};
    QTest::newRow("input length of COM7") << 7 << int(FakeSerial::SetInputLen) << QList<int>{7};
}

void TestPortProbe::failureDisablesItsOwnPass()
{
    QFETCH(int, port);
    QFETCH(int, op);
    QFETCH(QList<int>, disabled);

    FakeSerial serial;
    serial.present = {1, 2, 3, 4, 5, 6, 7, 8};
    serial.startAt(0);
    serial.failOn(port, FakeSerial::Op(op));
    QCOMPARE(::probe(serial), disabled);
    QVERIFY(serial.isOpen());
    QCOMPARE(serial.CommPort(), 8);
}

void TestPortProbe::failedCloseCarriesOnWithoutTest()
{
    // COM3 will not close: pass 4 cannot move the port either, so option 4
    // goes, and so does every later pass that meets the stuck port.
    FakeSerial serial;
    serial.present = {1, 2, 3, 4, 5, 6, 7, 8};
    serial.failOn(3, FakeSerial::Close, -1);
    QCOMPARE(::probe(serial), (QList<int>{4, 5, 6, 7, 8}));
    QVERIFY(serial.isOpen());
    QCOMPARE(serial.CommPort(), 3);
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

    PortSwitch(serial, chosen);
    QCOMPARE(serial.log, log);
    QVERIFY(serial.isOpen());
    QCOMPARE(serial.CommPort(), chosen);
    QCOMPARE(serial.InBufferCount(), 0);
    QCOMPARE(serial.InputLen(), 0);
}

void TestPortProbe::switchThrowsAfterEarlierStepsTookEffect()
{
    FakeSerial serial;
    serial.present = {2};
    serial.setCommPort(2);
    serial.setPortOpen(true);
    QVERIFY_THROWS_EXCEPTION(CommError, PortSwitch(serial, 5));
    QVERIFY(!serial.isOpen());
    QCOMPARE(serial.CommPort(), 5);
}

QTEST_GUILESS_MAIN(TestPortProbe)
#include "tst_portprobe.moc"
