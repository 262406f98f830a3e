#pragma once

// The floor the programs are measured against: Ombrix5's window as a plain
// Qt Widgets program would build it, with the same kinds and numbers of
// widgets at the same places, in the same fonts, colours and pictures, and
// nothing else: no port, no logic, no care for what start-up costs.

#include <QWidget>

#include <memory>

namespace ombrix::bench {

std::unique_ptr<QWidget> createFloorWindow();

} // namespace ombrix::bench
