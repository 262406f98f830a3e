#pragma once

#include "serialcontrol.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>

// A serial control whose ports exist or not at the test's word, and any of
// whose operations can be made to fail on any port. It logs every operation
// that takes effect, and every call that could fail with its outcome, so a
// test can check the order of calls.
class FakeSerial : public ombrix::SerialControl
{
public:
    enum Op { ReadOpen, Close, SetPort, Open, ClearInput, SetInputLen, Write };

    QSet<int> present; // ports that exist and are free
    // What took effect: "close 2", "port 5", "open 5", "clear".
    QStringList log;
    // Every call of an operation that can fail, whether or not it did:
    // "read", "close", "port 5", "open", "clear", "len 0", "write", each
    // followed by " failed" when it failed.
    mutable QStringList tried;
    QList<QByteArray> written;
    QByteArray buffer;

    // The next `times` calls of op while CommPort is port fail (-1: all).
    void failOn(int port, Op op, int times = 1) { m_failing[{port, op}] = times; }
    // Where the port number stands before anything sets it.
    void startAt(int port) { m_port = port; }

    bool PortOpen(bool *ok = nullptr) const override
    {
        const bool worked = outcome(QStringLiteral("read"), !madeToFail(ReadOpen));
        if (ok)
            *ok = worked;
        return worked && m_open;
    }
    bool setPortOpen(bool open) override
    {
        if (!open) {
            if (!m_open)
                return outcome(QStringLiteral("close"), true);
            if (madeToFail(Close))
                return outcome(QStringLiteral("close"), false);
            m_open = false;
            log << QStringLiteral("close %1").arg(m_port);
            return outcome(QStringLiteral("close"), true);
        }
        if (madeToFail(Open) || m_open || !present.contains(m_port))
            return outcome(QStringLiteral("open"), false);
        m_open = true;
        log << QStringLiteral("open %1").arg(m_port);
        return outcome(QStringLiteral("open"), true);
    }
    int CommPort() const override { return m_port; }
    bool setCommPort(int port) override
    {
        const QString call = QStringLiteral("port %1").arg(port);
        if (madeToFail(SetPort) || m_open)
            return outcome(call, false);
        m_port = port;
        log << call;
        return outcome(call, true);
    }
    int InBufferCount() const override { return m_open ? int(buffer.size()) : 0; }
    bool setInBufferCount(int) override
    {
        if (madeToFail(ClearInput))
            return outcome(QStringLiteral("clear"), false);
        buffer.clear();
        log << QStringLiteral("clear");
        return outcome(QStringLiteral("clear"), true);
    }
    int InputLen() const override { return m_inputLen; }
    bool setInputLen(int len) override
    {
        const QString call = QStringLiteral("len %1").arg(len);
        if (madeToFail(SetInputLen))
            return outcome(call, false);
        m_inputLen = len;
        return outcome(call, true);
    }
    bool Output(const QByteArray &bytes) override
    {
        if (madeToFail(Write) || !m_open)
            return outcome(QStringLiteral("write"), false);
        written << bytes;
        return outcome(QStringLiteral("write"), true);
    }
    QByteArray Input() override
    {
        QByteArray taken;
        if (m_open)
            taken.swap(buffer);
        return taken;
    }
    int CommEvent() const override { return m_event; }

    // The device sends bytes: they wait in the buffer and OnComm is raised.
    void receive(const QByteArray &bytes)
    {
        buffer += bytes;
        raise(ombrix::ComEvReceive);
    }
    void raise(int event)
    {
        m_event = event;
        emit OnComm();
    }
    bool isOpen() const { return m_open; }

private:
    // Uses up one of the failures set for op on the current port.
    bool madeToFail(Op op) const
    {
        auto it = m_failing.find({m_port, int(op)});
        if (it == m_failing.end() || it.value() == 0)
            return false;
        if (it.value() > 0)
            --it.value();
        return true;
    }
    bool outcome(const QString &call, bool worked) const
    {
        tried << (worked ? call : call + QStringLiteral(" failed"));
        return worked;
    }

    mutable QHash<QPair<int, int>, int> m_failing;
    bool m_open = false;
    int m_port = 1;
    int m_inputLen = 0;
    int m_event = 0;
};
