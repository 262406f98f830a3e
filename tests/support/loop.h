#pragma once

// Event-loop and CPU-time helpers for tests that watch a port go quiet or
// time what the window does.

#include <QEventLoop>
#include <QTimer>

#include <ctime>
#include <functional>

namespace probe {

// CPU time this process has used so far, in seconds.
inline double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Runs the event loop for ms milliseconds, sleeping in it while idle.
inline void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until done() holds, for at most ms milliseconds; the
// last word of done(). Unlike QTest::qWaitFor, which sleeps 10 ms between its
// passes, this waits for events, so timers fire and bytes are taken when due:
// what a test measures of the reply gap is the window's own timing.
inline bool runUntil(const std::function<bool()> &done, int ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return done();
}

} // namespace probe
