#pragma once

#include <QByteArray>
#include <QObject>

namespace ombrix {

// Codes of CommEvent the handlers act on; any other code is ignored.
enum CommEventCode : int {
    ComEvReceive = 2,
    ComEvRxOver = 1008,
};

// The serial control as the window's handlers use it, one per window.
// Getters carry the classic property names; each setter is set<Name>.
// An operation that cannot be carried out (a missing or busy port, a write
// with no port open) returns false and changes nothing; only a write that
// finds the port lost also leaves the port closed.
// OnComm is raised on the window's thread for each event of the port; the
// handler reads CommEvent once to learn its cause.
class SerialControl : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // *ok, when given, says whether the read worked; a failed one returns false.
    virtual bool PortOpen(bool *ok = nullptr) const = 0;
    virtual bool setPortOpen(bool open) = 0;

    virtual int CommPort() const = 0;
    virtual bool setCommPort(int port) = 0;

    virtual int InBufferCount() const = 0;
    // Only 0 is meaningful: it discards every byte waiting.
    virtual bool setInBufferCount(int count) = 0;

    virtual int InputLen() const = 0;
    // 0: each Input takes everything waiting.
    virtual bool setInputLen(int len) = 0;

    // Writes the whole array to the open port in one go.
    virtual bool Output(const QByteArray &bytes) = 0;
    // Takes the waiting bytes (all of them while InputLen is 0).
    virtual QByteArray Input() = 0;

    virtual int CommEvent() const = 0;

signals:
    void OnComm();
};

} // namespace ombrix
