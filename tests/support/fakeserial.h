#pragma once

#include "serialcontrol.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>

// A serial control whose ports exist or not at the test's word, and any of
// whose operations can be made to fail on any port. It logs every operation
// that takes effect, so a test can check the order of calls.
class FakeSerial : public ombrix::SerialControl
{
public:
    enum Op { ReadOpen, Close, SetPort, Open, ClearInput, SetInputLen, Write };

    QSet<int> present; // ports that exist and are free
    QStringList log;
    QList<QByteArray> written;
    QByteArray buffer;

    // The next `times` calls of op while CommPort is port throw (-1: all).
    void failOn(int port, Op op, int times = 1) { m_failing[{port, op}] = times; }
    // Where the port number stands before anything sets it.
    void startAt(int port) { m_port = port; }

    bool PortOpen() const override
    {
        check(ReadOpen);
        return m_open;
    }
    void setPortOpen(bool open) override
    {
        if (!open) {
            if (!m_open)
                return;
            check(Close);
            m_open = false;
            log << QStringLiteral("close %1").arg(m_port);
            return;
        }
        check(Open);
        if (m_open || !present.contains(m_port))
            throw ombrix::CommError("cannot open");
        m_open = true;
        log << QStringLiteral("open %1").arg(m_port);
    }
    int CommPort() const override { return m_port; }
    void setCommPort(int port) override
    {
        check(SetPort);
        if (m_open)
            throw ombrix::CommError("port is open");
        m_port = port;
        log << QStringLiteral("port %1").arg(port);
    }
    int InBufferCount() const override { return m_open ? int(buffer.size()) : 0; }
    void setInBufferCount(int) override
    {
        check(ClearInput);
        buffer.clear();
        log << QStringLiteral("clear");
    }
    int InputLen() const override { return m_inputLen; }
    void setInputLen(int len) override
    {
        check(SetInputLen);
        m_inputLen = len;
    }
    void Output(const QByteArray &bytes) override
    {
        check(Write);
        if (!m_open)
            throw ombrix::CommError("no port open");
        written << bytes;
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
    void check(Op op) const
    {
        auto it = m_failing.find({m_port, int(op)});
        if (it == m_failing.end() || it.value() == 0)
            return;
        if (it.value() > 0)
            --it.value();
        throw ombrix::CommError("made to fail");
    }

    mutable QHash<QPair<int, int>, int> m_failing;
    bool m_open = false;
    int m_port = 1;
    int m_inputLen = 0;
    int m_event = 0;
};
