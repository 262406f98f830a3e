#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

// Another program holding a serial device, run by the helper that the test
// support builds (see portholder.cpp): started and ended by the test, and it
// lets go at once should the test die, because its standard input closes.
class PortHolder
{
public:
    PortHolder() = default;
    ~PortHolder() { release(); }

    PortHolder(const PortHolder &) = delete;
    PortHolder &operator=(const PortHolder &) = delete;

    // Holds the device with the comma-separated marks; true once it does.
    bool hold(const QString &device, const QString &marks, int timeoutMs = 10000)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(OMBRIX_PORTHOLDER), {QStringLiteral("hold"), device, marks, lockFile(device)});
        if (!m_process.waitForStarted(timeoutMs))
            return false;
        while (!m_process.canReadLine() && m_process.waitForReadyRead(timeoutMs)) {
        }
        m_reply = m_process.readLine().trimmed();
        return m_reply == "held";
    }
    qint64 pid() const { return m_process.processId(); }
    QByteArray reply() const { return m_reply; }

    void release(int timeoutMs = 10000)
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(timeoutMs))
            m_process.kill();
        m_process.waitForFinished(timeoutMs);
    }

    // Tries the device as another user ("open": through the serial control,
    // "raw": a plain open). The helper's answer: "opened" or "refused", the
    // latter followed by ": <the system's reason>" for a plain open.
    static QByteArray tryAs(const QString &how, const QString &device, uint uid, int timeoutMs = 10000)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral(OMBRIX_PORTHOLDER), {how, device, QString::number(uid)});
        p.closeWriteChannel();
        if (!p.waitForFinished(timeoutMs))
            return "no answer";
        return p.readAll().trimmed();
    }

    // Where the system keeps the device's lock file, whoever wrote it.
    static QString lockFile(const QString &device)
    {
        QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
        name.replace(QLatin1Char('/'), QLatin1Char('_'));
        return QStringLiteral("/run/lock/LCK..") + name;
    }
    // Its bytes; empty when there is none.
    static QByteArray lockBytes(const QString &device)
    {
        QFile f(lockFile(device));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QProcess m_process;
    QByteArray m_reply;
};
