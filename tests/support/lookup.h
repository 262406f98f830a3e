#pragma once

// Finding things by key: a window's controls, whose object names are their
// design keys, and the entries of a stored design.

#include "design.h"

#include <QWidget>

namespace probe {

// A window's control by its design key. A test cannot go on without it.
template <typename T = QWidget>
T *control(const QWidget *window, const QString &key)
{
    T *w = window->findChild<T *>(key);
    if (!w)
        qFatal("no control %s of the kind asked for", qPrintable(key));
    return w;
}

inline const ombrix::ControlSpec *designed(const ombrix::Design &design, const QString &key)
{
    for (const ombrix::ControlSpec &c : design.controls)
        if (c.key() == key)
            return &c;
    return nullptr;
}

} // namespace probe
