#pragma once

// A window started the way its program starts (built, ports probed, shown),
// on a fake serial control with the given ports present.

#include "fakeserial.h"
#include "startup.h"

#include <QSet>

#include <memory>

namespace probe {

template <typename Window>
struct Started
{
    std::unique_ptr<Window> window;
    FakeSerial *serial = nullptr; // the window's
};

// As: the window type the caller keeps it as (a base of Window will do).
template <typename Window, typename As = Window>
Started<As> startOnFake(const QSet<int> &present)
{
    auto fake = std::make_unique<FakeSerial>();
    fake->present = present;
    Started<As> started;
    started.serial = fake.get();
    started.window = ombrix::startProgram<Window>(std::move(fake));
    return started;
}

} // namespace probe
