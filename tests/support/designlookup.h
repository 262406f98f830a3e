#pragma once

// A control of a window's stored design by its key, for the tests that
// compare a window with where its design puts things.

#include "design.h"

namespace probe {

inline const ombrix::ControlSpec *designed(const ombrix::Design &design, const QString &key)
{
    for (const ombrix::ControlSpec &c : design.controls)
        if (c.key() == key)
            return &c;
    return nullptr;
}

} // namespace probe
