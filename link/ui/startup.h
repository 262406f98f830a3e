#pragma once

#include "serialcontrol.h"

#include <QApplication>

#include <memory>

namespace ombrix {

// What each program does at start: names the application after the window's
// Title (its desktop entry in lower case), builds the window on the serial
// control, probes the ports and shows the window.
template <typename Window>
std::unique_ptr<Window> startProgram(std::unique_ptr<SerialControl> serial)
{
    const QString name = QString::fromLatin1(Window::Title);
    QApplication::setApplicationName(name);
    // Ties the window to its desktop entry where the desktop asks by name.
    QApplication::setDesktopFileName(name.toLower());
    auto window = std::make_unique<Window>(std::move(serial));
    window->Form_Load();
    window->show();
    return window;
}

} // namespace ombrix
