#pragma once

// The window side of the reply latency benchmark: a process that builds one
// window the way main() does, on a port given by name, clicks its version
// and read buttons in turn and reports when each reply reached the screen.

#include "benchsupport.h"

#include <QString>

namespace ombrix::bench {

// Runs `replies` version and as many read commands, alternating, and prints
// one report line: "ops" (v or p per reply, in order) and, per reply,
// monotonicNs() of the receive tick's start ("tick") and end ("handled"),
// of the start of the frame that showed the reply ("frame") and of its end
// ("shown"), all comma-separated. Exit status 0 when every reply showed.
int runWindow(int argc, char **argv, Kind kind, const QString &port, int replies);

} // namespace ombrix::bench
