#pragma once

// Event-loop and CPU-time helpers for tests that watch a port go quiet.

#include <QEventLoop>
#include <QTimer>

#include <ctime>

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

} // namespace probe
