#pragma once

// The setter of the reply latency benchmark: it answers a window's version
// and read commands on the master side of a pseudo-terminal, from a thread
// of its own, byte by byte at the pace of a 9600-baud line.

#include "benchsupport.h"
#include "levelmodel.h"
#include "stagemodel.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <thread>

class PseudoTerminal;

namespace ombrix::bench {

// Replies alternate between two contents, so every reply changes what the
// window shows: the n-th version reply carries Versions[n % 2], the n-th
// parameter reply the sets of index n % 2.
extern const QByteArray Versions[2];
extern const StageProgramme StageSets[2];
extern const LevelRecord LevelSets[2];

QByteArray versionReply(int n);
QByteArray parameterReply(Kind kind, int n);

// 8N1 at 9600 baud: ten bits a byte.
constexpr qint64 BitsPerByte = 10;
constexpr qint64 Baud = 9600;
// When byte k (from 0) of a reply begun at start has left the line.
constexpr qint64 byteDone(qint64 start, int k) { return start + (k + 1) * BitsPerByte * 1000000000 / Baud; }

class Setter
{
public:
    struct Sent
    {
        char op; // 'v' version, 'p' parameters
        qint64 lastByte; // monotonicNs() just after the last byte was written
        qint64 lastWrite; // how long writing it took, preemption included
    };

    Setter(PseudoTerminal &pty, Kind kind);
    ~Setter();

    void start();
    // Stops the thread; then sent() and error() may be read.
    void stop();

    const QList<Sent> &sent() const { return m_sent; }
    // Whether the thread ran with real-time priority.
    bool realTime() const { return m_realTime; }
    QString error() const { return m_error; }

private:
    void run();
    bool answer(char op, const QByteArray &reply);

    PseudoTerminal &m_pty;
    Kind m_kind;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    bool m_realTime = false;
    QList<Sent> m_sent;
    QString m_error;
};

} // namespace ombrix::bench
