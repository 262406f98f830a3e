#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct termios;

// A pseudo-terminal pair for tests: the code under test opens slavePath() as
// its serial port, the test plays the device on the master side.
//
// The helper keeps its own descriptor of the slave open for its whole life,
// set to raw mode before any byte flows (else the slave echoes the device's
// bytes back to the master and translates CR/LF). While the port under test
// is closed that descriptor keeps the pair out of the hung-up state, in which
// the master reads EIO and polls POLLHUP, so readMaster() really waits
// instead of returning at once; the slave's settings also stay readable.
// (Bytes sent while no slave is open are kept either way on Linux.) The
// helper never reads that descriptor, so it takes no bytes from the port
// under test, and it takes no lock file, so the port never looks busy.
//
// Linux only (Unix98 pseudo-terminals).
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();

    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // True while the master side is open.
    bool isValid() const { return m_master >= 0; }
    QString errorString() const { return m_error; }

    QString slavePath() const { return m_slavePath; }

    // Sends the bytes as the device would, waiting up to timeoutMs while the
    // slave's input queue (about 4 KiB) is full. Returns false on timeout or
    // error. Nothing drains that queue while the test does not run the event
    // loop, so keep each write below 4 KiB.
    bool write(const QByteArray &bytes, int timeoutMs = 5000);

    // Collects what the port under test sent until `expected` bytes are in or
    // timeoutMs passes; returns what arrived (possibly less, possibly more).
    // Does not run the Qt event loop.
    QByteArray readMaster(int expected, int timeoutMs = 5000);

    // Sizes of the separate reads the last readMaster() got its bytes in.
    QList<int> lastReadChunks() const { return m_lastChunks; }

    // Line settings of the slave as the port under test left them.
    bool slaveSettings(termios *settings) const;
    // The helper's own descriptor of the slave, to look at the device from
    // outside (exclusive mode, advisory locks) also while it is exclusive.
    // Never read from it.
    int slaveDescriptor() const { return m_slave; }

    // The device vanishes: the port under test sees a hang-up.
    void closeMaster();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_error;
    QList<int> m_lastChunks;
};
