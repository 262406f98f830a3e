#include "qtserialcontrol.h"

#ifdef Q_OS_UNIX
#include "deviceclaim.h"
#endif

#include <QMetaObject>
#include <QPointer>
#include <QSignalBlocker>

namespace ombrix {

QString defaultPortName(int n)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    if (n >= 1 && n <= 4)
        return QStringLiteral("/dev/ttyUSB%1").arg(n - 1);
    if (n >= 5 && n <= 8)
        return QStringLiteral("/dev/ttyACM%1").arg(n - 5);
    return QString();
#endif
}

QtSerialControl::QtSerialControl(QObject *parent)
    : QtSerialControl(defaultPortName, parent)
{
}

QtSerialControl::QtSerialControl(PortNameMapping portName, QObject *parent)
    : SerialControl(parent)
    , m_portName(portName ? std::move(portName) : PortNameMapping(defaultPortName))
    , m_port(new QSerialPort(this))
{
    connect(m_port, &QSerialPort::readyRead, this, &QtSerialControl::onReadyRead);
    connect(m_port, &QSerialPort::errorOccurred, this, &QtSerialControl::onErrorOccurred);
}

QtSerialControl::~QtSerialControl()
{
    // Close before the members go, so no signal of the port reaches a
    // half-destroyed control.
    m_port->disconnect(this);
    if (m_port->isOpen())
        m_port->close();
}

bool QtSerialControl::PortOpen(bool *ok) const
{
    if (ok)
        *ok = true;
    return m_port->isOpen();
}

bool QtSerialControl::setPortOpen(bool open)
{
    if (!open) {
        if (m_port->isOpen())
            closePort();
        return true;
    }

    const QString device = portName();
    if (m_port->isOpen() || device.isEmpty())
        return false;

#ifdef Q_OS_UNIX
    // QSerialPort alone would take another program's port: it reads only its
    // own lock files, removes any other as stale, and looks for no advisory
    // lock. Its open would also change the holder's line settings.
    DeviceClaim claim(device);
    if (!claim.check().isEmpty())
        return false;
#endif

    m_port->setPortName(device);
    m_port->setBaudRate(QSerialPort::Baud9600);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    // Takes a lock file and puts the device in exclusive mode while open.
    if (!m_port->open(QIODevice::ReadWrite)) {
        m_port->clearError();
        return false;
    }
#ifdef Q_OS_UNIX
    if (!claim.lock(int(m_port->handle())).isEmpty()) {
        closePort();
        return false;
    }
#endif

    // Whatever the device sent before we listened is no reply to us.
    m_port->clear(QSerialPort::Input);
#ifdef Q_OS_WIN
    // Starts an overlapped read at once instead of waiting for the first
    // comm event. On Windows this read returns at once with nothing and the
    // port goes back to waiting for that event, as after every readAll() of
    // an empty port; under Wine the comm event never comes, and this read is
    // what receives.
    m_port->setReadBufferSize(m_port->readBufferSize());
#endif
    m_inBuffer.clear();
    m_receivePending = false;
    m_overrunPending = false;
    return true;
}

int QtSerialControl::CommPort() const
{
    return m_commPort;
}

bool QtSerialControl::setCommPort(int port)
{
    if (m_port->isOpen())
        return false;
    m_commPort = port;
    return true;
}

int QtSerialControl::InBufferCount() const
{
    return int(m_inBuffer.size());
}

bool QtSerialControl::setInBufferCount(int count)
{
    if (count != 0)
        return true;
    m_inBuffer.clear();
    // The bytes a pending receive event would announce are gone.
    m_receivePending = false;
    return true;
}

int QtSerialControl::InputLen() const
{
    return m_inputLen;
}

bool QtSerialControl::setInputLen(int len)
{
    if (len < 0)
        return false;
    m_inputLen = len;
    return true;
}

bool QtSerialControl::Output(const QByteArray &bytes)
{
    if (!m_port->isOpen())
        return false;
    if (bytes.isEmpty())
        return true;

    // One write and an immediate flush: the frame leaves now and whole, not
    // in pieces whenever the event loop next runs.
    const qint64 written = m_port->write(bytes);
    // On a lost port the write or the flush fails, and by then the error
    // handler has closed the port.
    return written == bytes.size() && m_port->isOpen() && m_port->flush();
}

QByteArray QtSerialControl::Input()
{
    if (!m_port->isOpen())
        return QByteArray();
    const qsizetype n = m_inputLen > 0 ? qMin<qsizetype>(m_inputLen, m_inBuffer.size()) : m_inBuffer.size();
    const QByteArray taken = m_inBuffer.left(n);
    m_inBuffer.remove(0, n);
    return taken;
}

int QtSerialControl::CommEvent() const
{
    return m_commEvent;
}

int QtSerialControl::InBufferSize() const
{
    return m_inBufferSize;
}

bool QtSerialControl::setInBufferSize(int bytes)
{
    if (m_port->isOpen() || bytes < 1)
        return false;
    m_inBufferSize = bytes;
    return true;
}

QString QtSerialControl::portName() const
{
    return m_portName(m_commPort);
}

void QtSerialControl::onReadyRead()
{
    const QByteArray received = m_port->readAll();
    if (received.isEmpty())
        return;

    const qsizetype room = qMax<qsizetype>(0, m_inBufferSize - m_inBuffer.size());
    const qsizetype kept = qMin(room, received.size());
    m_inBuffer.append(received.constData(), kept);
    // Bytes arrived even when none fit: the line is not quiet, so the
    // receive event still comes and the reply gap starts again.
    m_receivePending = true;
    if (kept < received.size())
        m_overrunPending = true;

    // Raised from the event loop rather than from here: QSerialPort emits no
    // readyRead while one of its readyRead slots runs, so a handler opening a
    // modal dialog from in here would starve the port until it returned.
    if (!m_deliveryQueued) {
        m_deliveryQueued = true;
        QMetaObject::invokeMethod(this, &QtSerialControl::deliverEvents, Qt::QueuedConnection);
    }
}

void QtSerialControl::deliverEvents()
{
    // Cleared first: events arriving while a handler runs a nested event
    // loop get a delivery of their own.
    m_deliveryQueued = false;
    const QPointer<QtSerialControl> alive(this);

    if (m_receivePending) {
        m_receivePending = false;
        m_commEvent = ComEvReceive;
        emit OnComm();
        if (!alive)
            return;
    }
    // Re-checked after the first handler: a nested delivery may have
    // reported the overrun already, or a close dropped it.
    if (m_overrunPending) {
        m_overrunPending = false;
        m_commEvent = ComEvRxOver;
        emit OnComm();
    }
}

void QtSerialControl::onErrorOccurred(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        break;
    default:
        return; // NoError comes with every open; the rest fail a call that reports them
    }
    if (!m_port->isOpen())
        return;

    // After a hang-up Qt 6.4 reports ReadError over and over at full CPU
    // instead of one ResourceError; only closing the port stops it, so close
    // right here.
    closePort();
}

void QtSerialControl::closePort()
{
    // No signal of the port may re-enter us halfway through the close.
    const QSignalBlocker quiet(m_port);
    m_port->close();
    m_port->clearError();
    m_inBuffer.clear();
    m_receivePending = false;
    m_overrunPending = false;
}

} // namespace ombrix
