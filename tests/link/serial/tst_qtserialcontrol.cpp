#include "loop.h"
#include "pty.h"
#include "qtserialcontrol.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using ombrix::CommError;
using ombrix::QtSerialControl;

namespace {

constexpr int Patience = 10000; // ms; generous so a loaded machine never fails a test

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray pattern(int size)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        out[i] = char((i * 7 + 3) & 0xFF);
    return out;
}

using probe::processCpuSeconds;
using probe::runEventLoop;

// Records CommEvent as each OnComm handler would see it.
struct EventLog
{
    explicit EventLog(QtSerialControl &control)
    {
        QObject::connect(&control, &QtSerialControl::OnComm, &control,
                         [this, &control] { events.append(control.CommEvent()); });
    }
    QList<int> events;
};

// The child side of heldByAnotherProcess: holds the port until stdin closes.
int holdPort(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QSerialPort port(QString::fromLocal8Bit(argv[2]));
    const bool held = port.open(QIODevice::ReadWrite);
    QTextStream(stdout) << (held ? "held" : "failed") << Qt::endl;
    if (!held)
        return 1;
    char c;
    while (std::fread(&c, 1, 1, stdin) == 1) {
    }
    return 0;
}

} // namespace

class TestQtSerialControl : public QObject
{
    Q_OBJECT

private:
    // A control whose COM1 is the pseudo-terminal's slave.
    std::unique_ptr<QtSerialControl> controlOn(const PseudoTerminal &pty)
    {
        const QString path = pty.slavePath();
        auto control = std::make_unique<QtSerialControl>([path](int n) { return n == 1 ? path : QString(); });
        control->setCommPort(1);
        return control;
    }

private slots:
    void defaultPortNames_data();
    void defaultPortNames();

    void openUsesFixedLineSettings();
    void outputArrivesUnchanged_data();
    void outputArrivesUnchanged();
    void input_data();
    void input();
    void discardWaitingBytes();
    void openAndCloseEmptyTheBuffer();

    void openFails_data();
    void openFails();
    void heldPortCannotBeOpenedTwice_data();
    void heldPortCannotBeOpenedTwice();
    void heldByAnotherProcess();
    void misuseWhileOpenOrClosed();

    void overflow_data();
    void overflow();
    void eventsDuringNestedEventLoop();
    void handlerClosingPortDropsPendingEvents();

    void lostPort_data();
    void lostPort();
};

void TestQtSerialControl::defaultPortNames_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("name");

#ifdef Q_OS_WIN
    QTest::newRow("1") << 1 << "COM1";
    QTest::newRow("8") << 8 << "COM8";
    QTest::newRow("12") << 12 << "COM12";
#else
    const QStringList names = {
        "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3",
        "/dev/ttyACM0", "/dev/ttyACM1", "/dev/ttyACM2", "/dev/ttyACM3",
    };
    for (int n = 1; n <= 8; ++n)
        QTest::addRow("COM%d", n) << n << names.at(n - 1);
    QTest::newRow("COM0") << 0 << QString();
    QTest::newRow("COM9") << 9 << QString();
    QTest::newRow("negative") << -1 << QString();
#endif
}

void TestQtSerialControl::defaultPortNames()
{
    QFETCH(int, port);
    QFETCH(QString, name);
    QCOMPARE(ombrix::defaultPortName(port), name);

    QtSerialControl control;
    control.setCommPort(port);
    QCOMPARE(control.portName(), name);
}

void TestQtSerialControl::openUsesFixedLineSettings()
{
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));

    // Start from settings that differ in every respect the control must fix.
    termios tio{};
    QVERIFY(pty.slaveSettings(&tio));
    {
        const int fd = ::open(qPrintable(pty.slavePath()), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        ::cfsetspeed(&tio, B115200);
        tio.c_cflag = (tio.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
        tio.c_iflag |= IXON | IXOFF;
        ::tcsetattr(fd, TCSANOW, &tio);
        ::close(fd);
    }

    auto control = controlOn(pty);
    control->setPortOpen(true);

    QVERIFY(pty.slaveSettings(&tio));
    QCOMPARE(::cfgetospeed(&tio), speed_t(B9600));
    QCOMPARE(::cfgetispeed(&tio), speed_t(B9600));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF), tcflag_t(0));
}

void TestQtSerialControl::outputArrivesUnchanged_data()
{
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("line and flow control bytes")
        << bytes({0x00, 0x0A, 0x0D, 0x11, 0x13, 0xFF, 0x0D, 0x0A, 0x7F, 0x1B, 0x03, 0x04, 0x00});
    QByteArray all;
    for (int v = 0; v < 256; ++v)
        all.append(char(v));
    QTest::newRow("every byte value") << all;
    QTest::newRow("one byte") << bytes({0x13});
}

void TestQtSerialControl::outputArrivesUnchanged()
{
    QFETCH(QByteArray, frame);
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    auto control = controlOn(pty);
    control->setPortOpen(true);

    // No event loop runs between the call and the read: the bytes must have
    // left during Output itself.
    control->Output(frame);
    const QByteArray got = pty.readMaster(frame.size(), Patience);
    QCOMPARE(got.toHex(' '), frame.toHex(' '));
    QCOMPARE(pty.lastReadChunks().size(), 1);
}

void TestQtSerialControl::input_data()
{
    QTest::addColumn<int>("inputLen");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QList<QByteArray>>("takes");

    const QByteArray reply = bytes({0x02, 0x00, 0x0A, 0x0D, 0x11, 0x13, 0xFF, 0x03});
    QTest::newRow("InputLen 0 takes all") << 0 << reply << QList<QByteArray>{reply, {}};
    QTest::newRow("InputLen 3 takes three at a time")
        << 3 << reply << QList<QByteArray>{reply.left(3), reply.mid(3, 3), reply.mid(6), {}};
    QTest::newRow("InputLen above count takes all") << 100 << reply << QList<QByteArray>{reply, {}};
}

void TestQtSerialControl::input()
{
    QFETCH(int, inputLen);
    QFETCH(QByteArray, sent);
    QFETCH(QList<QByteArray>, takes);

    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    auto control = controlOn(pty);
    EventLog log(*control);
    control->setPortOpen(true);
    control->setInputLen(inputLen);

    QVERIFY(pty.write(sent));
    QTRY_COMPARE_WITH_TIMEOUT(control->InBufferCount(), int(sent.size()), Patience);
    QTRY_VERIFY_WITH_TIMEOUT(!log.events.isEmpty(), Patience);
    QVERIFY(log.events.size() <= int(sent.size()));
    for (int e : std::as_const(log.events))
        QCOMPARE(e, int(ombrix::ComEvReceive));

    int left = int(sent.size());
    for (const QByteArray &expected : std::as_const(takes)) {
        QCOMPARE(control->Input().toHex(' '), expected.toHex(' '));
        left -= int(expected.size());
        QCOMPARE(control->InBufferCount(), left);
    }
}

void TestQtSerialControl::discardWaitingBytes()
{
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    auto control = controlOn(pty);
    control->setPortOpen(true);

    QVERIFY(pty.write("stale"));
    QTRY_COMPARE_WITH_TIMEOUT(control->InBufferCount(), 5, Patience);
    control->setInBufferCount(0);
    QCOMPARE(control->InBufferCount(), 0);
    QCOMPARE(control->Input(), QByteArray());

    // Only the discarded bytes are gone: later ones come through.
    QVERIFY(pty.write("fresh"));
    QTRY_COMPARE_WITH_TIMEOUT(control->InBufferCount(), 5, Patience);
    QCOMPARE(control->Input(), QByteArray("fresh"));
}

void TestQtSerialControl::openAndCloseEmptyTheBuffer()
{
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    auto control = controlOn(pty);
    control->setPortOpen(true);

    QVERIFY(pty.write("left over"));
    QTRY_COMPARE_WITH_TIMEOUT(control->InBufferCount(), 9, Patience);
    control->setPortOpen(false);
    QCOMPARE(control->InBufferCount(), 0);
    QCOMPARE(control->Input(), QByteArray());

    // Bytes the device sent while the port was closed are not replies either.
    QVERIFY(pty.write("while closed"));
    control->setPortOpen(true);
    QCOMPARE(control->InBufferCount(), 0);
    QVERIFY(pty.write("new"));
    QTRY_COMPARE_WITH_TIMEOUT(control->InBufferCount(), 3, Patience);
    QCOMPARE(control->Input(), QByteArray("new"));
}

void TestQtSerialControl::openFails_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing device") << "missing";
    QTest::newRow("device gone after the pair closed") << "vanished";
    QTest::newRow("number without a device") << "unmapped";
}

void TestQtSerialControl::openFails()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));

    QString path;
    int port = 3;
    if (kind == "missing") {
        path = dir.filePath("ttyNone");
    } else if (kind == "vanished") {
        path = pty.slavePath();
        pty.closeMaster();
    } else {
        port = 9; // the default table has no device for it
    }

    QtSerialControl control([path](int n) { return n == 3 ? path : ombrix::defaultPortName(n); });
    control.setCommPort(port);
    try {
        control.setPortOpen(true);
        QFAIL("opening succeeded");
    } catch (const CommError &e) {
        QVERIFY2(QString::fromStdString(e.what()).contains(QStringLiteral("COM%1").arg(port)), e.what());
    }
    QVERIFY(!control.PortOpen());
    QCOMPARE(control.InBufferCount(), 0);
    QVERIFY_THROWS_EXCEPTION(CommError, control.Output("x"));
    // The failure leaves a state from which another port can be chosen.
    control.setCommPort(4);
    QCOMPARE(control.CommPort(), 4);
}

void TestQtSerialControl::heldPortCannotBeOpenedTwice_data()
{
    QTest::addColumn<bool>("holderIsControl");
    QTest::newRow("held by another control") << true;
    QTest::newRow("held by a QSerialPort") << false;
}

void TestQtSerialControl::heldPortCannotBeOpenedTwice()
{
    QFETCH(bool, holderIsControl);
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));

    auto holder = controlOn(pty);
    QSerialPort plainHolder(pty.slavePath());
    if (holderIsControl)
        holder->setPortOpen(true);
    else
        QVERIFY2(plainHolder.open(QIODevice::ReadWrite), qPrintable(plainHolder.errorString()));

    auto second = controlOn(pty);
    QVERIFY_THROWS_EXCEPTION(CommError, second->setPortOpen(true));
    QVERIFY(!second->PortOpen());

    // The holder is undisturbed.
    if (holderIsControl) {
        QVERIFY(holder->PortOpen());
        holder->Output("ping");
        QCOMPARE(pty.readMaster(4, Patience), QByteArray("ping"));
        holder->setPortOpen(false);
    } else {
        QVERIFY(plainHolder.isOpen());
        plainHolder.close();
    }

    // Released, the port opens.
    second->setPortOpen(true);
    QVERIFY(second->PortOpen());
}

void TestQtSerialControl::heldByAnotherProcess()
{
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));

    QProcess other;
    other.start(QCoreApplication::applicationFilePath(), {"--hold-port", pty.slavePath()});
    QVERIFY(other.waitForStarted(Patience));
    QTRY_VERIFY_WITH_TIMEOUT(other.canReadLine(), Patience);
    QCOMPARE(other.readLine().trimmed(), QByteArray("held"));

    auto control = controlOn(pty);
    QVERIFY_THROWS_EXCEPTION(CommError, control->setPortOpen(true));
    QVERIFY(!control->PortOpen());

    other.closeWriteChannel();
    QVERIFY(other.waitForFinished(Patience));
    control->setPortOpen(true);
    QVERIFY(control->PortOpen());
}

void TestQtSerialControl::misuseWhileOpenOrClosed()
{
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    auto control = controlOn(pty);

    // Closed: nothing to write to, nothing to read, closing again is harmless.
    QVERIFY_THROWS_EXCEPTION(CommError, control->Output("x"));
    QCOMPARE(control->Input(), QByteArray());
    QCOMPARE(control->InBufferCount(), 0);
    control->setPortOpen(false);
    QVERIFY(!control->PortOpen());

    control->setPortOpen(true);
    QVERIFY_THROWS_EXCEPTION(CommError, control->setPortOpen(true));
    QVERIFY(control->PortOpen());
    QVERIFY_THROWS_EXCEPTION(CommError, control->setCommPort(2));
    QCOMPARE(control->CommPort(), 1);

    // Still the same port, still working.
    control->Output("ok");
    QCOMPARE(pty.readMaster(2, Patience), QByteArray("ok"));

    control->setPortOpen(false);
    control->setCommPort(2);
    QCOMPARE(control->CommPort(), 2);
}

void TestQtSerialControl::overflow_data()
{
    QTest::addColumn<int>("capacity"); // 0: leave the default
    QTest::addColumn<int>("sent");

    QTest::newRow("default capacity") << 0 << 1500;
    QTest::newRow("small capacity") << 16 << 40;
    QTest::newRow("exactly full") << 16 << 16;
}

void TestQtSerialControl::overflow()
{
    QFETCH(int, capacity);
    QFETCH(int, sent);

    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    auto control = controlOn(pty);
    if (capacity > 0)
        control->setInBufferSize(capacity);
    else
        capacity = 1024;
    QCOMPARE(control->InBufferSize(), capacity);
    EventLog log(*control);
    control->setPortOpen(true);

    const QByteArray data = pattern(sent);
    QVERIFY(pty.write(data));
    QTRY_COMPARE_WITH_TIMEOUT(control->InBufferCount(), capacity, Patience);

    const bool overrun = sent > capacity;
    if (overrun)
        QTRY_VERIFY_WITH_TIMEOUT(log.events.contains(ombrix::ComEvRxOver), Patience);
    else
        QTRY_VERIFY_WITH_TIMEOUT(!log.events.isEmpty(), Patience);
    // Let every remaining event come in before judging them.
    runEventLoop(200);
    QVERIFY(!log.events.isEmpty());
    QCOMPARE(log.events.first(), int(ombrix::ComEvReceive));
    QCOMPARE(log.events.contains(ombrix::ComEvRxOver), overrun);
    for (int e : std::as_const(log.events))
        QVERIFY(e == ombrix::ComEvReceive || e == ombrix::ComEvRxOver);

    QCOMPARE(control->InBufferCount(), capacity);
    QCOMPARE(control->Input(), data.left(capacity));

    // Room again: reception goes on.
    log.events.clear();
    QVERIFY(pty.write("more"));
    QTRY_COMPARE_WITH_TIMEOUT(control->InBufferCount(), 4, Patience);
    QCOMPARE(control->Input(), QByteArray("more"));
    QTRY_VERIFY_WITH_TIMEOUT(!log.events.isEmpty(), Patience);
    QVERIFY(!log.events.contains(ombrix::ComEvRxOver));
}

void TestQtSerialControl::eventsDuringNestedEventLoop()
{
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    auto control = controlOn(pty);
    control->setPortOpen(true);

    // The first handler runs a nested event loop, as a modal message box
    // would, and the device answers again meanwhile. The second answer must
    // be raised inside that loop, with a consistent state at each emit.
    int depth = 0;
    int maxDepth = 0;
    QList<int> countsSeen;
    QList<int> eventsSeen;
    connect(control.get(), &QtSerialControl::OnComm, this, [&] {
        ++depth;
        maxDepth = qMax(maxDepth, depth);
        eventsSeen.append(control->CommEvent());
        countsSeen.append(control->InBufferCount());
        if (depth == 1 && countsSeen.size() == 1) {
            QVERIFY(pty.write("second"));
            QEventLoop modal;
            QTimer guard;
            guard.setSingleShot(true);
            connect(&guard, &QTimer::timeout, &modal, &QEventLoop::quit);
            connect(control.get(), &QtSerialControl::OnComm, &modal, &QEventLoop::quit);
            guard.start(Patience);
            modal.exec();
        }
        --depth;
    });

    QVERIFY(pty.write("first"));
    QTRY_COMPARE_WITH_TIMEOUT(control->InBufferCount(), 11, Patience);
    QCOMPARE(maxDepth, 2);
    QCOMPARE(eventsSeen.first(), int(ombrix::ComEvReceive));
    QCOMPARE(countsSeen.first(), 5);
    QVERIFY(eventsSeen.size() >= 2);
    QCOMPARE(eventsSeen.at(1), int(ombrix::ComEvReceive));
    QCOMPARE(countsSeen.at(1), 11);
    QCOMPARE(control->Input(), QByteArray("firstsecond"));
}

void TestQtSerialControl::handlerClosingPortDropsPendingEvents()
{
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    auto control = controlOn(pty);
    control->setInBufferSize(4);
    EventLog log(*control);
    connect(control.get(), &QtSerialControl::OnComm, this, [&] { control->setPortOpen(false); });
    control->setPortOpen(true);

    // Receive and overrun at once; the handler of the first closes the port.
    QVERIFY(pty.write("0123456789"));
    QTRY_VERIFY_WITH_TIMEOUT(!control->PortOpen(), Patience);
    runEventLoop(200);
    QCOMPARE(log.events, QList<int>{ombrix::ComEvReceive});
    QCOMPARE(control->InBufferCount(), 0);
}

void TestQtSerialControl::lostPort_data()
{
    QTest::addColumn<bool>("noticedByWrite");
    QTest::newRow("noticed while idle") << false;
    QTest::newRow("noticed by a write") << true;
}

void TestQtSerialControl::lostPort()
{
    QFETCH(bool, noticedByWrite);
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    auto control = controlOn(pty);
    QSignalSpy comm(control.get(), &QtSerialControl::OnComm);
    QSignalSpy lost(control.get(), &QtSerialControl::portLost);
    control->setPortOpen(true);

    // A working link first, then the adapter is pulled out.
    QVERIFY(pty.write("hi"));
    QTRY_COMPARE_WITH_TIMEOUT(control->InBufferCount(), 2, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(comm.size(), 1, Patience);
    comm.clear();
    pty.closeMaster();

    if (noticedByWrite) {
        QVERIFY_THROWS_EXCEPTION(CommError, control->Output("x"));
        QVERIFY(!control->PortOpen());
        QCOMPARE(lost.size(), 0); // not from inside Output: it follows from the event loop
    }
    QTRY_VERIFY_WITH_TIMEOUT(!control->PortOpen(), Patience);
    QCOMPARE(control->InBufferCount(), 0);

    // Left alone now, the program must idle: no flood of errors or events.
    const double before = processCpuSeconds();
    runEventLoop(1000);
    const double used = processCpuSeconds() - before;
    QVERIFY2(used < 0.3, qPrintable(QStringLiteral("%1 s of CPU in 1 s after the hang-up").arg(used)));

    QCOMPARE(comm.size(), 0);
    QCOMPARE(lost.size(), 1);
    QVERIFY(!control->PortOpen());
    QCOMPARE(control->Input(), QByteArray());
    QVERIFY_THROWS_EXCEPTION(CommError, control->Output("x"));
    // The device is gone, so reopening fails like a missing port.
    QVERIFY_THROWS_EXCEPTION(CommError, control->setPortOpen(true));
    QCOMPARE(lost.size(), 1);
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--hold-port") == 0)
        return holdPort(argc, argv);

    QCoreApplication app(argc, argv);
    TestQtSerialControl test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_qtserialcontrol.moc"
