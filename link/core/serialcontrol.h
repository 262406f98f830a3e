#pragma once

#include <QByteArray>
#include <QObject>

#include <stdexcept>

namespace ombrix {

// What a serial control operation throws when it cannot be carried out
// (a missing or busy port, a write with no port open).
class CommError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Codes of CommEvent the handlers act on; any other code is ignored.
enum CommEventCode : int {
    ComEvReceive = 2,
    ComEvRxOver = 1008,
};

// The serial control as the window's handlers use it, one per window.
// Getters carry the classic property names; each setter is set<Name>.
// OnComm is raised on the window's thread for each event of the port; the
// handler reads CommEvent once to learn its cause.
class SerialControl : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool PortOpen() const = 0;
    virtual void setPortOpen(bool open) = 0;

    virtual int CommPort() const = 0;
    virtual void setCommPort(int port) = 0;

    virtual int InBufferCount() const = 0;
    // Only 0 is meaningful: it discards every byte waiting.
    virtual void setInBufferCount(int count) = 0;

    virtual int InputLen() const = 0;
    // 0: each Input takes everything waiting.
    virtual void setInputLen(int len) = 0;

    // Writes the whole array to the open port in one go.
    virtual void Output(const QByteArray &bytes) = 0;
    // Takes the waiting bytes (all of them while InputLen is 0).
    virtual QByteArray Input() = 0;

    virtual int CommEvent() const = 0;

signals:
    void OnComm();
};

} // namespace ombrix
