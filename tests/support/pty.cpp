#include "pty.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

// Waits for `events` on fd until the deadline; false on timeout or hang-up.
bool waitFor(int fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const qint64 left = deadline.remainingTime();
        const int rc = ::poll(&p, 1, left < 0 ? -1 : int(qMin<qint64>(left, 60000)));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            return false;
        if (p.revents & events)
            return true;
        return false; // POLLHUP, POLLERR or POLLNVAL without the wanted event
    }
}

} // namespace

PseudoTerminal::PseudoTerminal()
{
    // The POSIX calls rather than openpty(): the system's <pty.h> is shadowed
    // by this helper's own header on the include path.
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[256] = {};
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0
        || ::ptsname_r(m_master, name, sizeof name) != 0) {
        m_error = systemError("posix_openpt");
        closeMaster();
        return;
    }
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) {
        m_error = systemError("open slave");
        closeMaster();
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name);

    // Raw, so the line discipline neither echoes nor translates CR/LF or
    // XON/XOFF on the way in either direction.
    termios tio{};
    if (::tcgetattr(m_slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slave, TCSANOW, &tio);
    }

    // Non-blocking so a full queue or a silent port never hangs a test.
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PseudoTerminal::write(const QByteArray &bytes, int timeoutMs)
{
    if (m_master < 0)
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            m_error = systemError("write");
            return false;
        }
        if (!waitFor(m_master, POLLOUT, deadline)) {
            m_error = QStringLiteral("write timed out");
            return false;
        }
    }
    return true;
}

QByteArray PseudoTerminal::readMaster(int expected, int timeoutMs)
{
    m_lastChunks.clear();
    QByteArray got;
    if (m_master < 0)
        return got;
    const QDeadlineTimer deadline(timeoutMs);
    char buf[4096];
    while (got.size() < expected) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, n);
            m_lastChunks.append(int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno != EAGAIN)
            break;
        if (!waitFor(m_master, POLLIN, deadline))
            break;
    }
    return got;
}

bool PseudoTerminal::slaveSettings(termios *settings) const
{
    return m_slave >= 0 && ::tcgetattr(m_slave, settings) == 0;
}

void PseudoTerminal::closeMaster()
{
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}
