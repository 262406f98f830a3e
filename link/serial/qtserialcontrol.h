#pragma once

#include "serialcontrol.h"

#include <QByteArray>
#include <QSerialPort>
#include <QString>

#include <functional>

namespace ombrix {

// Device name of port n: "COM<n>" on Windows; elsewhere COM1..COM4 are
// /dev/ttyUSB0..3 and COM5..COM8 are /dev/ttyACM0..3. Any other number has
// no device (empty name), so opening it fails.
QString defaultPortName(int n);

// The serial control over QSerialPort. Lives on the GUI thread and owns its
// port. Every open uses 9600 baud, 8 data bits, no parity, 1 stop bit, no
// flow control.
//
// A port another program holds is never opened a second time; while a port
// is ours, other programs see it as busy (on Unix: its lock file, an
// advisory lock and exclusive mode).
//
// Received bytes go into a buffer of its own, InBufferSize bytes at most;
// bytes that do not fit are lost and reported with CommEvent ComEvRxOver,
// after the ComEvReceive that every arrival raises.
// Opening and closing empty that buffer; opening also drops whatever the
// device sent before it.
// OnComm is raised from the event loop, never from inside a call on the
// control, so a handler may run a nested event loop (a modal message box)
// and still see further OnComm for bytes arriving meanwhile.
//
// Should the open port fail under us (the adapter pulled out), the port is
// closed and its buffer emptied at once, with no OnComm; Output fails from
// then on, and reopening fails while the device is gone.
class QtSerialControl : public SerialControl
{
    Q_OBJECT
public:
    using PortNameMapping = std::function<QString(int)>;

    static constexpr int DefaultInBufferSize = 1024;

    explicit QtSerialControl(QObject *parent = nullptr);
    explicit QtSerialControl(PortNameMapping portName, QObject *parent = nullptr);
    ~QtSerialControl() override;

    // Never fails.
    bool PortOpen(bool *ok = nullptr) const override;
    // Opening returns false when the port is missing, busy or already open;
    // closing a closed port does nothing.
    bool setPortOpen(bool open) override;

    int CommPort() const override;
    // Returns false while a port is open.
    bool setCommPort(int port) override;

    int InBufferCount() const override;
    // 0 discards the waiting bytes; any other count is ignored.
    bool setInBufferCount(int count) override;

    int InputLen() const override;
    // Returns false for a negative length.
    bool setInputLen(int len) override;

    // Returns false when no port is open or the write fails.
    bool Output(const QByteArray &bytes) override;
    // Empty when no port is open.
    QByteArray Input() override;

    int CommEvent() const override;

    int InBufferSize() const;
    // Capacity of the receive buffer; returns false while a port is open or
    // for a size below 1.
    bool setInBufferSize(int bytes);

    // Device name the current CommPort maps to.
    QString portName() const;

private:
    void onReadyRead();
    void onErrorOccurred(QSerialPort::SerialPortError error);
    void deliverEvents();
    void closePort();

    PortNameMapping m_portName;
    QSerialPort *m_port;
    QByteArray m_inBuffer;
    int m_inBufferSize = DefaultInBufferSize;
    int m_commPort = 1;
    int m_inputLen = 0;
    int m_commEvent = 0;
    bool m_receivePending = false;
    bool m_overrunPending = false;
    bool m_deliveryQueued = false;
};

} // namespace ombrix
