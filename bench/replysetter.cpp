#include "replysetter.h"

#include "frame.h"
#include "pty.h"

#include <cerrno>
#include <ctime>

#include <pthread.h>
#include <sched.h>

namespace ombrix::bench {

const QByteArray Versions[2] = {QByteArray("\x00" "V1.3", 5), QByteArray("\x00" "V1.2", 5)};

// Every time, and every speed, differs from the other set and from the
// window's defaults.
const StageProgramme StageSets[2] = {
    {{
        {{{12, SpeedHigh}, {34, SpeedLow}, {56, SpeedSlow}, {78, SpeedPause}, {90, SpeedHigh}}},
        {{{21, SpeedPause}, {43, SpeedSlow}, {65, SpeedLow}, {87, SpeedHigh}, {109, SpeedPause}}},
    }},
    {{
        {{{123, SpeedLow}, {145, SpeedPause}, {167, SpeedHigh}, {189, SpeedSlow}, {201, SpeedLow}}},
        {{{210, SpeedLow}, {222, SpeedHigh}, {234, SpeedPause}, {246, SpeedSlow}, {255, SpeedLow}}},
    }},
};

const LevelRecord LevelSets[2] = {{25, 7, 40}, {130, 99, 250}};

QByteArray versionReply(int n)
{
    return Versions[n % 2];
}

QByteArray parameterReply(Kind kind, int n)
{
    // The device answers a read in the layout of the write frame, with the
    // read's op in front.
    if (kind == Kind::Level)
        return buildFrame(OpRead, LevelFrame(LevelSets[n % 2]).mid(3, 3));
    return buildFrame(OpRead, WriteFrame(StageSets[n % 2]).mid(3, 2 * StageCount * FunctionCount));
}

Setter::Setter(PseudoTerminal &pty, Kind kind)
    : m_pty(pty)
    , m_kind(kind)
{
}

Setter::~Setter()
{
    stop();
}

void Setter::start()
{
    m_thread = std::thread([this] { run(); });
}

void Setter::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void Setter::run()
{
    // A real setter is hardware of its own, never held up by the computer's
    // load: the thread asks for a real-time slot, where it is allowed one.
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    m_realTime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;

    const QByteArray versionCommand = CommandFrame(OpVersion);
    const QByteArray readCommand = CommandFrame(OpRead);
    int versions = 0;
    int reads = 0;
    QByteArray pending;
    while (!m_stop) {
        // Short waits, so a stop is noticed soon.
        pending += m_pty.readMaster(1, 100);
        while (pending.size() >= versionCommand.size()) {
            const QByteArray command = pending.left(versionCommand.size());
            pending.remove(0, command.size());
            if (command != versionCommand && command != readCommand) {
                m_error = QStringLiteral("unexpected bytes from the window: %1")
                              .arg(QString::fromLatin1(command.toHex(' ')));
                return;
            }
            const bool ok = command == versionCommand ? answer('v', versionReply(versions++))
                                                      : answer('p', parameterReply(m_kind, reads++));
            if (!ok)
                return;
        }
    }
}

bool Setter::answer(char op, const QByteArray &reply)
{
    // Each byte goes out when its last bit would have left a real line, on
    // absolute deadlines, so a late wake-up does not push the rest back.
    const qint64 start = monotonicNs();
    qint64 before = 0;
    for (int k = 0; k < reply.size(); ++k) {
        const qint64 due = byteDone(start, k);
        const timespec at{time_t(due / 1000000000), long(due % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
        const QByteArray byte = reply.mid(k, 1);
        before = monotonicNs();
        if (!m_pty.write(byte)) {
            m_error = QStringLiteral("writing the reply: %1").arg(m_pty.errorString());
            return false;
        }
    }
    const qint64 after = monotonicNs();
    m_sent.append({op, after, after - before});
    return true;
}

} // namespace ombrix::bench
