#include "frmombrixstage.h"

#include "serialcontrol.h"
#include "stagedesign.h"
#include "twips.h"

#include <QIcon>

namespace ombrix {

FrmOmbrixStage::FrmOmbrixStage(std::unique_ptr<SerialControl> serial, QWidget *parent)
    : SetterWindow(QString::fromLatin1(Title), stageDesign(), std::move(serial), parent)
{
    setWindowTitle(QStringLiteral("奶泡機時間參數設定 V1.3"));
    setWindowIcon(QIcon(QStringLiteral(":/program.ico")));
    // Open large enough for the whole layout; the controls never move.
    resize(toPixels(15135), toPixels(10695));
}

} // namespace ombrix
