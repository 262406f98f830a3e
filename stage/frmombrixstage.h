#pragma once

#include "setterwindow.h"

namespace ombrix {

class VScrollBar;

// The five-stage window: two functions of five stages, each a time and a speed.
class FrmOmbrixStage : public SetterWindow
{
    Q_OBJECT
public:
    static constexpr const char *Title = "Ombrix5";

    explicit FrmOmbrixStage(std::unique_ptr<SerialControl> serial, QWidget *parent = nullptr);
};

} // namespace ombrix
