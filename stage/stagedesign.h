#pragma once

#include "design.h"

namespace ombrix {

// The stored design of the five-stage window.
const Design &stageDesign();

} // namespace ombrix
