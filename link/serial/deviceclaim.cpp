#include "deviceclaim.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ombrix {

namespace {

// Where serial lock files live; on Debian the first points to the second.
const char *const LockFolders[] = {"/var/lock", "/run/lock"};

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Whether a process with this PID exists, also one of another user.
bool processAlive(qint64 pid)
{
    if (pid <= 0 || pid > INT_MAX)
        return false;
    // EPERM: it exists but belongs to someone else.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// Name of the lock file for a serial device, as Qt and the usual serial
// terminals make it: "LCK.." and the device path below /dev, '/' as '_'.
QString lockFileName(const QString &device)
{
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QLatin1String("LCK..") + name;
}

} // namespace

qint64 lockFileOwner(const QByteArray &contents)
{
    // Binary form: one native int. Any PID the kernel hands out has a zero
    // high byte, and no text form holds a NUL.
    if (contents.size() == qsizetype(sizeof(std::int32_t)) && contents.contains('\0')) {
        std::int32_t pid = 0;
        std::memcpy(&pid, contents.constData(), sizeof pid);
        return pid > 0 ? pid : 0;
    }
    // Text forms: the first line holds the PID, perhaps padded with blanks.
    const qsizetype end = contents.indexOf('\n');
    const QByteArray first = contents.left(end < 0 ? contents.size() : end).trimmed();
    if (first.isEmpty())
        return 0;
    for (char c : first) {
        if (c < '0' || c > '9')
            return 0;
    }
    bool ok = false;
    const qint64 pid = first.toLongLong(&ok);
    return ok && pid > 0 && pid <= INT_MAX ? pid : 0;
}

DeviceClaim::DeviceClaim(const QString &device)
    : m_path(QFile::encodeName(device))
{
}

DeviceClaim::~DeviceClaim()
{
    // Closed only once the port has its own descriptor (or failed), so this
    // is not the device's last close and does not hang up the line.
    if (m_probe >= 0)
        ::close(m_probe);
}

QString DeviceClaim::check()
{
    struct stat st;
    if (::stat(m_path.constData(), &st) != 0)
        return errno == ENOENT ? QStringLiteral("no such device") : systemError(errno);

    if (const QString held = checkLockFiles(); !held.isEmpty())
        return held;

    // Opened only to look: no settings are changed, so a holder that marks
    // its hold in no other way keeps its line as it set it.
    m_probe = ::open(m_path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_probe < 0)
        return errno == EBUSY ? QStringLiteral("in exclusive use by another program") : systemError(errno);
#ifdef TIOCGEXCL
    // The kernel lets root past exclusive mode; we do not go past it either.
    int exclusive = 0;
    if (::ioctl(m_probe, TIOCGEXCL, &exclusive) == 0 && exclusive)
        return QStringLiteral("in exclusive use by another program");
#endif
    // Held here until the port's descriptor takes it over, so nobody else
    // gets the lock while the port opens.
    if (::flock(m_probe, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return QStringLiteral("locked by another program");
    return {};
}

QString DeviceClaim::lock(int portDescriptor)
{
    if (m_probe >= 0)
        ::flock(m_probe, LOCK_UN);
    if (::flock(portDescriptor, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return QStringLiteral("locked by another program");
    return {};
}

QString DeviceClaim::checkLockFiles() const
{
    const QByteArray name = QFile::encodeName(lockFileName(QFile::decodeName(m_path)));
    dev_t seenDevice = 0;
    ino_t seenInode = 0;
    for (const char *folder : LockFolders) {
        struct stat dir;
        if (::stat(folder, &dir) != 0 || !S_ISDIR(dir.st_mode))
            continue;
        if (dir.st_dev == seenDevice && dir.st_ino == seenInode)
            continue; // the same folder under its other name
        seenDevice = dir.st_dev;
        seenInode = dir.st_ino;

        const QByteArray path = QByteArray(folder) + '/' + name;
        const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        char buf[128];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        ::close(fd);
        const qint64 owner = n > 0 ? lockFileOwner(QByteArray(buf, int(n))) : 0;
        // One that names no process (still being written, or a form we do
        // not know) is left to Qt's own lock, which waits for it to age.
        if (owner == 0)
            continue;
        if (processAlive(owner))
            return QStringLiteral("locked by process %1 (%2)").arg(owner).arg(QFile::decodeName(path));
        if (::unlink(path.constData()) != 0 && errno != ENOENT)
            return QStringLiteral("stale lock %1 cannot be removed: %2")
                .arg(QFile::decodeName(path), systemError(errno));
    }
    return {};
}

} // namespace ombrix
