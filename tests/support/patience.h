#pragma once

// How long a test waits for what normally comes within milliseconds. A test
// that passes waits far less; the margin is for a loaded machine.

namespace probe {

constexpr int Patience = 10000; // ms

// For a whole program or server to start, show its window or end, and for
// a long run of traffic to be over.
constexpr int ProgramPatience = 3 * Patience; // ms

} // namespace probe
