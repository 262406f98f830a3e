#include "portprobe.h"

#include "serialcontrol.h"

namespace ombrix {

void PortProbe(SerialControl &msc, const std::function<void(int)> &disableOption)
{
    for (int i = FirstPort; i <= LastPort; ++i) {
        bool readOk = true;
        // A state that cannot be read still goes on to the close.
        const bool open = msc.PortOpen(&readOk) || !readOk;
        bool ok = readOk;
        if (open)
            ok &= msc.setPortOpen(false);
        ok &= msc.setCommPort(i);
        ok &= msc.setPortOpen(true);
        ok &= msc.setInBufferCount(0);
        ok &= msc.setInputLen(0);
        if (!ok)
            disableOption(i);
    }
}

bool PortSwitch(SerialControl &msc, int n)
{
    bool readOk = true;
    const bool open = msc.PortOpen(&readOk);
    if (!readOk)
        return false;
    if (open && !msc.setPortOpen(false))
        return false;
    return msc.setCommPort(n) && msc.setPortOpen(true) && msc.setInBufferCount(0) && msc.setInputLen(0);
}

} // namespace ombrix
