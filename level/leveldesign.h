#pragma once

#include "design.h"

namespace ombrix {

// The stored design of the three-level window.
const Design &levelDesign();

} // namespace ombrix
