#include "timepair.h"

#include "controls.h"
#include "timetext.h"

#include <QLineEdit>

namespace ombrix {

void textToBar(const QLineEdit &box, VScrollBar &bar)
{
    const Int16Result number = textToInt16(box.text());
    if (!number.ok())
        return;
    try {
        bar.setValue(number.value);
    } catch (const ValueRefused &) {
    }
}

void barToText(const VScrollBar &bar, QLineEdit &box)
{
    box.setText(QString::number(bar.Value()));
}

} // namespace ombrix
