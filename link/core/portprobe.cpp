#include "portprobe.h"

#include "serialcontrol.h"

namespace ombrix {

namespace {

// Runs one probe step; a failure is reported to the caller, never thrown on.
template <typename Step>
bool attempt(Step step)
{
    try {
        step();
        return true;
    } catch (const CommError &) {
        return false;
    }
}

} // namespace

void PortProbe(SerialControl &msc, const std::function<void(int)> &disableOption)
{
    for (int i = FirstPort; i <= LastPort; ++i) {
        bool ok = true;
        bool open = true; // a failing read still goes on to the close
        ok &= attempt([&] { open = msc.PortOpen(); });
        if (open)
            ok &= attempt([&] { msc.setPortOpen(false); });
        ok &= attempt([&] { msc.setCommPort(i); });
        ok &= attempt([&] { msc.setPortOpen(true); });
        ok &= attempt([&] { msc.setInBufferCount(0); });
        ok &= attempt([&] { msc.setInputLen(0); });
        if (!ok)
            disableOption(i);
    }
}

void PortSwitch(SerialControl &msc, int n)
{
    if (msc.PortOpen())
        msc.setPortOpen(false);
    msc.setCommPort(n);
    msc.setPortOpen(true);
    msc.setInBufferCount(0);
    msc.setInputLen(0);
}

} // namespace ombrix
