#include "bytes.h"
#include "deviceclaim.h"
#include "loop.h"
#include "patience.h"
#include "portholder.h"
#include "pty.h"
#include "qtserialcontrol.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <functional>
#include <memory>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using ombrix::QtSerialControl;

// An operation on the control, and whether it was carried out.
using Operation = std::function<bool(QtSerialControl &)>;
Q_DECLARE_METATYPE(Operation)

namespace {

QByteArray pattern(int size)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        out[i] = char((i * 7 + 3) & 0xFF);
    return out;
}

using probe::bytes;
using probe::Patience;
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

// A PID that no process has: one that has just exited and been reaped.
qint64 deadPid()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

QByteArray nativeInt(qint32 value)
{
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
}

// What a device looks like from outside: its speed, whether it is in
// exclusive mode, and whether a new descriptor gets an advisory lock on it.
struct Outside
{
    speed_t speed = 0;
    int exclusive = -1;
    bool lockable = false;
    bool operator==(const Outside &o) const
    {
        return speed == o.speed && exclusive == o.exclusive && lockable == o.lockable;
    }
};

Outside lookFromOutside(const PseudoTerminal &pty)
{
    Outside o;
    const int fd = pty.slaveDescriptor();
    termios tio{};
    if (pty.slaveSettings(&tio))
        o.speed = ::cfgetospeed(&tio);
    ::ioctl(fd, TIOCGEXCL, &o.exclusive);
    o.lockable = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (o.lockable)
        ::flock(fd, LOCK_UN);
    return o;
}

// Names of lock-folder entries created or removed since the watch began.
class LockFolderWatch
{
public:
    LockFolderWatch()
    {
        m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd >= 0)
            ::inotify_add_watch(m_fd, "/run/lock", IN_CREATE | IN_DELETE | IN_MOVED_TO);
    }
    ~LockFolderWatch()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isValid() const { return m_fd >= 0; }
    QStringList touched() const
    {
        QStringList names;
        alignas(inotify_event) char buf[4096];
        ssize_t n;
        while ((n = ::read(m_fd, buf, sizeof buf)) > 0) {
            for (char *p = buf; p < buf + n;) {
                const auto *e = reinterpret_cast<const inotify_event *>(p);
                if (e->len)
                    names << QString::fromLocal8Bit(e->name);
                p += sizeof(inotify_event) + e->len;
            }
        }
        return names;
    }

private:
    int m_fd = -1;
};

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
    void heldByAnotherProgram_data();
    void heldByAnotherProgram();
    void lockFileOwner_data();
    void lockFileOwner();
    void staleLockIsReplaced_data();
    void staleLockIsReplaced();
    void ownHoldIsAnnounced();
    void refusedOperationChangesNothing_data();
    void refusedOperationChangesNothing();

    void overflow_data();
    void overflow();
    void eventsDuringNestedEventLoop();
    void handlerClosingPortDropsPendingEvents();

    void lostPort_data();
    void lostPort();

    void cleanup();

private:
    QStringList m_lockFiles; // removed after each test, should one survive a failure
};

void TestQtSerialControl::cleanup()
{
    for (const QString &f : std::as_const(m_lockFiles))
        QFile::remove(f);
    m_lockFiles.clear();
}

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
    QVERIFY(control->setPortOpen(true));

    // A pseudo-terminal keeps 8N1 whatever it is asked, so look at what the
    // control asked of its port too.
    const QSerialPort *port = control->findChild<QSerialPort *>();
    QVERIFY(port);
    QCOMPARE(port->baudRate(), qint32(QSerialPort::Baud9600));
    QCOMPARE(port->dataBits(), QSerialPort::Data8);
    QCOMPARE(port->parity(), QSerialPort::NoParity);
    QCOMPARE(port->stopBits(), QSerialPort::OneStop);
    QCOMPARE(port->flowControl(), QSerialPort::NoFlowControl);

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
    QVERIFY(control->setPortOpen(true));

    // No event loop runs between the call and the read: the bytes must have
    // left during Output itself.
    QVERIFY(control->Output(frame));
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
    QVERIFY(control->setPortOpen(true));
    QVERIFY(control->setInputLen(inputLen));

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
    QVERIFY(control->setPortOpen(true));

    QVERIFY(pty.write("stale"));
    QTRY_COMPARE_WITH_TIMEOUT(control->InBufferCount(), 5, Patience);
    QVERIFY(control->setInBufferCount(0));
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
    QVERIFY(control->setPortOpen(true));

    QVERIFY(pty.write("left over"));
    QTRY_COMPARE_WITH_TIMEOUT(control->InBufferCount(), 9, Patience);
    control->setPortOpen(false);
    QCOMPARE(control->InBufferCount(), 0);
    QCOMPARE(control->Input(), QByteArray());

    // Bytes the device sent while the port was closed are not replies either.
    QVERIFY(pty.write("while closed"));
    QVERIFY(control->setPortOpen(true));
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
    QVERIFY(control.setCommPort(port));
    LockFolderWatch lockFolder;
    QVERIFY(lockFolder.isValid());
    QVERIFY(!control.setPortOpen(true));
    QVERIFY(!control.PortOpen());
    // A device that is not there costs no lock file, not even for a moment.
    const QString device = control.portName().section('/', -1);
    if (!device.isEmpty()) {
        const QStringList touched = lockFolder.touched().filter(device);
        QVERIFY2(touched.isEmpty(), qPrintable(touched.join(' ')));
    }
    QCOMPARE(control.InBufferCount(), 0);
    QVERIFY(!control.Output("x"));
    // The failure leaves a state from which another port can be chosen.
    QVERIFY(control.setCommPort(4));
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
        QVERIFY(holder->setPortOpen(true));
    else
        QVERIFY2(plainHolder.open(QIODevice::ReadWrite), qPrintable(plainHolder.errorString()));

    auto second = controlOn(pty);
    QVERIFY(!second->setPortOpen(true));
    QVERIFY(!second->PortOpen());
    QVERIFY(!second->Output("x"));

    // The holder is undisturbed.
    if (holderIsControl) {
        QVERIFY(holder->PortOpen());
        QVERIFY(holder->Output("ping"));
        QCOMPARE(pty.readMaster(4, Patience), QByteArray("ping"));
        holder->setPortOpen(false);
    } else {
        QVERIFY(plainHolder.isOpen());
        plainHolder.close();
    }

    // Released, the port opens.
    QVERIFY(second->setPortOpen(true));
    QVERIFY(second->PortOpen());
}

void TestQtSerialControl::heldByAnotherProgram_data()
{
    QTest::addColumn<QString>("marks");
    QTest::newRow("Qt lock file") << "qtlock";
    QTest::newRow("ASCII lock file") << "asciilock";
    QTest::newRow("binary lock file") << "binarylock";
    QTest::newRow("advisory lock") << "flock";
    QTest::newRow("ASCII lock file and advisory lock") << "asciilock,flock";
    QTest::newRow("exclusive mode") << "excl";
    QTest::newRow("every mark") << "binarylock,flock,excl";
}

// Another program holds the port: the control refuses it, touches nothing of
// the holder's (lock file, line settings, exclusive mode, advisory lock), and
// takes the port once the holder has let go.
void TestQtSerialControl::heldByAnotherProgram()
{
    QFETCH(QString, marks);
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    const QString device = pty.slavePath();
    m_lockFiles << PortHolder::lockFile(device);

    PortHolder holder;
    QVERIFY2(holder.hold(device, marks), holder.reply().constData());
    const QByteArray lockBefore = PortHolder::lockBytes(device);
    const bool withLockFile = marks.contains("qtlock") || marks.contains("asciilock") || marks.contains("binarylock");
    QCOMPARE(!lockBefore.isEmpty(), withLockFile);
    const Outside before = lookFromOutside(pty);
    QCOMPARE(before.speed, speed_t(B115200));

    auto control = controlOn(pty);
    for (int attempt = 0; attempt < 2; ++attempt) {
        QVERIFY2(!control->setPortOpen(true), "opened a port another program holds");
        QVERIFY(!control->PortOpen());
        QCOMPARE(PortHolder::lockBytes(device), lockBefore);
        QCOMPARE(lookFromOutside(pty), before);
    }

    // Another user, whom the kernel keeps out of exclusive mode, is refused
    // as well (only root can try this: it needs a second user). The lock
    // file is made that user's, so only seeing the holder alive, though it
    // cannot be signalled, keeps the file from being removed as stale.
    if (::geteuid() == 0) {
        const uint other = 65534;
        QCOMPARE(::chmod(QFile::encodeName(device).constData(), 0666), 0);
        if (withLockFile)
            QCOMPARE(::chown(QFile::encodeName(PortHolder::lockFile(device)).constData(), other, other), 0);
        const QByteArray answer = PortHolder::tryAs("open", device, other);
        QCOMPARE(answer, QByteArray("refused"));
        QCOMPARE(PortHolder::lockBytes(device), lockBefore);
    }

    holder.release();
    QCOMPARE(PortHolder::lockBytes(device), QByteArray());
    QVERIFY(control->setPortOpen(true));
    QVERIFY(control->PortOpen());
    QVERIFY(control->Output("ok"));
    QCOMPARE(pty.readMaster(2, Patience), QByteArray("ok"));
}

void TestQtSerialControl::lockFileOwner_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<qint64>("pid");

    QTest::newRow("Qt form") << QByteArray("4321\nminiterm\nbench\n") << qint64(4321);
    QTest::newRow("Qt form with host id") << QByteArray("77\napp\nhost\n6d0a1f\n") << qint64(77);
    QTest::newRow("ASCII form") << QByteArray("      4321\n") << qint64(4321);
    QTest::newRow("ASCII form, no newline") << QByteArray("      4321") << qint64(4321);
    QTest::newRow("ASCII form, CR LF") << QByteArray("      4321\r\n") << qint64(4321);
    QTest::newRow("ASCII of four bytes") << QByteArray("123\n") << qint64(123);
    QTest::newRow("binary form") << nativeInt(4321) << qint64(4321);
    QTest::newRow("binary, largest PID") << nativeInt(4194304) << qint64(4194304);
    QTest::newRow("binary that reads as a line") << nativeInt(0x0A31) << qint64(0x0A31);
    QTest::newRow("binary that reads as digits") << nativeInt(0x3231) << qint64(0x3231);
    QTest::newRow("binary zero") << nativeInt(0) << qint64(0);
    QTest::newRow("binary negative") << nativeInt(-7) << qint64(0);
    QTest::newRow("empty, still being written") << QByteArray() << qint64(0);
    QTest::newRow("words") << QByteArray("locked\n") << qint64(0);
    QTest::newRow("zero") << QByteArray("0\n") << qint64(0);
    QTest::newRow("signed") << QByteArray("-5\n") << qint64(0);
    QTest::newRow("too large") << QByteArray("99999999999\n") << qint64(0);
    QTest::newRow("digits then words") << QByteArray("12ab\n") << qint64(0);
    QTest::newRow("five bytes") << QByteArray("\x01\x02\x00\x00\x00", 5) << qint64(0);
}

void TestQtSerialControl::lockFileOwner()
{
    QFETCH(QByteArray, contents);
    QFETCH(qint64, pid);
    QCOMPARE(ombrix::lockFileOwner(contents), pid);
}

void TestQtSerialControl::staleLockIsReplaced_data()
{
    QTest::addColumn<QByteArray>("contents");
    const qint64 dead = deadPid();
    QVERIFY(::kill(pid_t(dead), 0) != 0 && errno == ESRCH);
    QTest::newRow("Qt form") << QByteArray::number(dead) + "\nminiterm\nhost\n";
    QTest::newRow("ASCII form") << QByteArray::number(dead).rightJustified(10, ' ') + '\n';
    QTest::newRow("binary form") << nativeInt(qint32(dead));
}

// A lock file whose process is gone holds nothing: the port opens, our own
// lock takes its place, and it goes when the port closes.
void TestQtSerialControl::staleLockIsReplaced()
{
    QFETCH(QByteArray, contents);
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    const QString lockFile = PortHolder::lockFile(pty.slavePath());
    m_lockFiles << lockFile;
    QFile stale(lockFile);
    QVERIFY(stale.open(QIODevice::WriteOnly | QIODevice::NewOnly));
    stale.write(contents);
    stale.close();

    auto control = controlOn(pty);
    QVERIFY(control->setPortOpen(true));
    QVERIFY(control->PortOpen());
    const QByteArray ours = PortHolder::lockBytes(pty.slavePath());
    QCOMPARE(ours.left(ours.indexOf('\n')), QByteArray::number(QCoreApplication::applicationPid()));
    control->setPortOpen(false);
    QVERIFY(!QFile::exists(lockFile));
}

// While the control holds a port, every way other programs look says busy.
void TestQtSerialControl::ownHoldIsAnnounced()
{
    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    const QString device = pty.slavePath();
    m_lockFiles << PortHolder::lockFile(device);
    QVERIFY(::geteuid() != 0 || ::chmod(QFile::encodeName(device).constData(), 0666) == 0);
    const Outside free = lookFromOutside(pty);
    QCOMPARE(free.exclusive, 0);
    QVERIFY(free.lockable);

    auto control = controlOn(pty);
    QVERIFY(control->setPortOpen(true));
    QVERIFY(control->PortOpen());

    const QByteArray lock = PortHolder::lockBytes(device);
    QCOMPARE(ombrix::lockFileOwner(lock), QCoreApplication::applicationPid());
    const Outside held = lookFromOutside(pty);
    QCOMPARE(held.exclusive, 1);
    QVERIFY(!held.lockable);
    // Another program of ours, and a plain open by a user who is not root.
    QVERIFY2(PortHolder::tryAs("open", device, ::geteuid()).startsWith("refused"), "a second control opened it");
    if (::geteuid() == 0) {
        const QByteArray raw = PortHolder::tryAs("raw", device, 65534);
        QVERIFY2(raw.startsWith("refused") && raw.contains("busy"), raw.constData());
    }
    QCOMPARE(PortHolder::lockBytes(device), lock);

    control->setPortOpen(false);
    QCOMPARE(PortHolder::lockBytes(device), QByteArray());
    const Outside after = lookFromOutside(pty);
    QCOMPARE(after.exclusive, 0);
    QVERIFY(after.lockable);
}

void TestQtSerialControl::refusedOperationChangesNothing_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<Operation>("operation");

    QTest::newRow("write while closed") << false << Operation([](QtSerialControl &c) { return c.Output("x"); });
    QTest::newRow("open twice") << true << Operation([](QtSerialControl &c) { return c.setPortOpen(true); });
    QTest::newRow("port change while open") << true << Operation([](QtSerialControl &c) { return c.setCommPort(2); });
    QTest::newRow("buffer resize while open")
        << true << Operation([](QtSerialControl &c) { return c.setInBufferSize(16); });
    QTest::newRow("buffer of no bytes") << false << Operation([](QtSerialControl &c) { return c.setInBufferSize(0); });
    QTest::newRow("negative input length") << true << Operation([](QtSerialControl &c) { return c.setInputLen(-1); });
}

void TestQtSerialControl::refusedOperationChangesNothing()
{
    QFETCH(bool, open);
    QFETCH(Operation, operation);

    PseudoTerminal pty;
    QVERIFY2(pty.isValid(), qPrintable(pty.errorString()));
    auto control = controlOn(pty);
    if (open) {
        QVERIFY(control->setPortOpen(true));
        // Bytes waiting when the refusal comes stay waiting.
        QVERIFY(pty.write("kept"));
        QTRY_COMPARE_WITH_TIMEOUT(control->InBufferCount(), 4, Patience);
    }

    QVERIFY(!operation(*control));

    QCOMPARE(control->PortOpen(), open);
    QCOMPARE(control->CommPort(), 1);
    QCOMPARE(control->InBufferSize(), 1024);
    QCOMPARE(control->InputLen(), 0);
    QCOMPARE(control->Input(), open ? QByteArray("kept") : QByteArray());
    if (open) {
        // Still the same port, still working.
        QVERIFY(control->Output("ok"));
        QCOMPARE(pty.readMaster(2, Patience), QByteArray("ok"));
    }

    // Closing, even a closed port, leaves a control that takes another port.
    QVERIFY(control->setPortOpen(false));
    QVERIFY(control->setPortOpen(false));
    QVERIFY(!control->PortOpen());
    QVERIFY(control->setCommPort(2));
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
        QVERIFY(control->setInBufferSize(capacity));
    else
        capacity = 1024;
    QCOMPARE(control->InBufferSize(), capacity);
    EventLog log(*control);
    QVERIFY(control->setPortOpen(true));

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

    // Bytes arriving into the full buffer are lost, yet they are an arrival:
    // the receive event comes first, then the overflow.
    log.events.clear();
    QVERIFY(pty.write("late"));
    QTRY_VERIFY_WITH_TIMEOUT(log.events.contains(ombrix::ComEvRxOver), Patience);
    QCOMPARE(log.events, (QList<int>{ombrix::ComEvReceive, ombrix::ComEvRxOver}));
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
    QVERIFY(control->setPortOpen(true));

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
    QVERIFY(control->setInBufferSize(4));
    EventLog log(*control);
    connect(control.get(), &QtSerialControl::OnComm, this, [&] { control->setPortOpen(false); });
    QVERIFY(control->setPortOpen(true));

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
    QVERIFY(control->setPortOpen(true));

    // A working link first, then the adapter is pulled out.
    QVERIFY(pty.write("hi"));
    QTRY_COMPARE_WITH_TIMEOUT(control->InBufferCount(), 2, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(comm.size(), 1, Patience);
    comm.clear();
    pty.closeMaster();

    if (noticedByWrite) {
        QVERIFY(!control->Output("x"));
        QVERIFY(!control->PortOpen());
    }
    QTRY_VERIFY_WITH_TIMEOUT(!control->PortOpen(), Patience);
    QCOMPARE(control->InBufferCount(), 0);

    // Left alone now, the program must idle: no flood of errors or events.
    const double before = processCpuSeconds();
    runEventLoop(1000);
    const double used = processCpuSeconds() - before;
    QVERIFY2(used < 0.3, qPrintable(QStringLiteral("%1 s of CPU in 1 s after the hang-up").arg(used)));

    QCOMPARE(comm.size(), 0);
    QVERIFY(!control->PortOpen());
    QCOMPARE(control->Input(), QByteArray());
    QVERIFY(!control->Output("x"));
    // The device is gone, so reopening fails like a missing port.
    QVERIFY(!control->setPortOpen(true));
    QVERIFY(!control->PortOpen());
}

QTEST_GUILESS_MAIN(TestQtSerialControl)
#include "tst_qtserialcontrol.moc"
