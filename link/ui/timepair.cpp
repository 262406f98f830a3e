#include "timepair.h"

#include "controls.h"
#include "timetext.h"

#include <QLineEdit>

namespace ombrix {

void textToBar(const QLineEdit &box, VScrollBar &bar)
{
    const Int16Result number = textToInt16(box.text());
    if (number.ok())
        bar.setValue(number.value); // a refused value leaves the bar as it was
}

void barToText(const VScrollBar &bar, QLineEdit &box)
{
    box.setText(QString::number(bar.Value()));
}

} // namespace ombrix
