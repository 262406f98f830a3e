#pragma once

#include <functional>

namespace ombrix {

class SerialControl;

constexpr int FirstPort = 1;
constexpr int LastPort = 8;

// Start-up pass over COM1..COM8. Every operation that fails disables the
// option of the pass's own port and the pass carries on with the next
// operation. Afterwards COM8 is open if it opened; a port that will not
// close stays open, and every later pass fails on it.
void PortProbe(SerialControl &msc, const std::function<void(int port)> &disableOption);

// Moves the control to port n and opens it with an empty receive buffer.
// Returns false at the first operation that fails: the ones before it have
// taken effect, the ones after it have not run.
bool PortSwitch(SerialControl &msc, int n);

} // namespace ombrix
