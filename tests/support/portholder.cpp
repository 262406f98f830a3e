// Another program on the machine, as the port tests need one: it holds a
// serial device the ways other programs do, or tries a port as another user.
//
//   ombrix_portholder hold <device> <marks> <lock file>
//       Opens the device at 115200 baud, marks its hold with each of the
//       comma-separated marks (qtlock, asciilock, binarylock: the lock file
//       in that form; flock: an advisory lock; excl: exclusive mode), prints
//       "held", and keeps it all until its standard input closes.
//   ombrix_portholder open <device> <uid>
//   ombrix_portholder raw <device> <uid>
//       As user <uid>, opens the device through the serial control (open) or
//       with a plain open(2) (raw); prints "opened" or "refused" (a plain
//       open adds the system's reason: "refused: <why>").

#include "qtserialcontrol.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QSysInfo>
#include <QString>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray lockContents(const QString &form)
{
    const int pid = int(::getpid());
    if (form == QLatin1String("qtlock"))
        return QByteArray::number(pid) + "\nombrix_portholder\n" + QSysInfo::machineHostName().toUtf8() + '\n';
    if (form == QLatin1String("asciilock"))
        return QByteArray::number(pid).rightJustified(10, ' ') + '\n';
    const std::int32_t binary = pid;
    return QByteArray(reinterpret_cast<const char *>(&binary), sizeof binary);
}

void waitForStdinToClose()
{
    char c;
    while (std::fread(&c, 1, 1, stdin) == 1) {
    }
}

int hold(const QByteArray &device, const QStringList &marks, const QByteArray &lockPath)
{
    const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::printf("failed: open: %s\n", std::strerror(errno));
        return 1;
    }
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B115200);
    ::tcsetattr(fd, TCSANOW, &tio);

    QByteArray lockFile;
    for (const QString &mark : marks) {
        if (mark.endsWith(QLatin1String("lock")) && mark != QLatin1String("flock")) {
            lockFile = lockPath;
            const int lfd = ::open(lockFile.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            const QByteArray contents = lockContents(mark);
            if (lfd < 0 || ::write(lfd, contents.constData(), size_t(contents.size())) != contents.size()) {
                std::printf("failed: lock file: %s\n", std::strerror(errno));
                return 1;
            }
            ::close(lfd);
        } else if (mark == QLatin1String("flock")) {
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                std::printf("failed: flock: %s\n", std::strerror(errno));
                return 1;
            }
        } else if (mark == QLatin1String("excl")) {
            ::ioctl(fd, TIOCEXCL);
        } else {
            std::printf("failed: unknown mark %s\n", qPrintable(mark));
            return 1;
        }
    }
    std::printf("held\n");
    std::fflush(stdout);

    waitForStdinToClose();
    if (!lockFile.isEmpty())
        ::unlink(lockFile.constData());
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return 0;
}

bool becomeUser(uid_t uid)
{
    if (uid == ::geteuid())
        return true;
    return ::setgroups(0, nullptr) == 0 && ::setgid(gid_t(uid)) == 0 && ::setuid(uid) == 0;
}

int tryOpen(const QByteArray &device, bool raw)
{
    if (raw) {
        const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            std::printf("refused: %s\n", std::strerror(errno));
            return 0;
        }
        ::close(fd);
        std::printf("opened\n");
        return 0;
    }
    const QString path = QFile::decodeName(device);
    ombrix::QtSerialControl control([path](int) { return path; });
    std::printf(control.setPortOpen(true) ? "opened\n" : "refused\n");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (args.size() == 5 && args.at(1) == QLatin1String("hold"))
        return hold(QFile::encodeName(args.at(2)), args.at(3).split(QLatin1Char(',')), QFile::encodeName(args.at(4)));
    if (args.size() == 4 && (args.at(1) == QLatin1String("open") || args.at(1) == QLatin1String("raw"))) {
        if (!becomeUser(uid_t(args.at(3).toUInt()))) {
            std::printf("failed: cannot become user %s: %s\n", qPrintable(args.at(3)), std::strerror(errno));
            return 1;
        }
        return tryOpen(QFile::encodeName(args.at(2)), args.at(1) == QLatin1String("raw"));
    }
    std::fprintf(stderr, "usage: %s hold <device> <marks> <lock file> | open|raw <device> <uid>\n", argv[0]);
    return 2;
}
