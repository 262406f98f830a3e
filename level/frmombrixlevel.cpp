#include "frmombrixlevel.h"

#include "controls.h"
#include "icons.h"
#include "leveldesign.h"
#include "serialcontrol.h"
#include "timepair.h"
#include "twips.h"
#include "windowsystem.h"

#include <QLineEdit>

namespace ombrix {

FrmOmbrixLevel::FrmOmbrixLevel(std::unique_ptr<SerialControl> serial, QWidget *parent)
    : SetterWindow(QString::fromLatin1(Title), levelDesign(), std::move(serial), parent)
    , TextHi(built<QLineEdit>(QStringLiteral("TextHi")))
    , TextStop(built<QLineEdit>(QStringLiteral("TextStop")))
    , TextLo(built<QLineEdit>(QStringLiteral("TextLo")))
    , VsHi(built<VScrollBar>(QStringLiteral("VsHi")))
    , VsStop(built<VScrollBar>(QStringLiteral("VsStop")))
    , VsLo(built<VScrollBar>(QStringLiteral("VsLo")))
{
    setWindowTitle(QStringLiteral("時間參數設定"));
    setWindowIcon(icoIcon(QStringLiteral(":/program.ico")));
    // A fixed dialog frame with no minimise or maximise button; a tool
    // window, so it gets no taskbar button (X11 desktops have to be told).
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setAttribute(Qt::WA_QuitOnClose);
    setFixedSize(toPixels(6540), toPixels(7650));
    keepOffTaskbar(this);
    centreWhenShown(this);

    connect(TextHi, &QLineEdit::textChanged, this, &FrmOmbrixLevel::TextHi_Change);
    connect(TextStop, &QLineEdit::textChanged, this, &FrmOmbrixLevel::TextStop_Change);
    connect(TextLo, &QLineEdit::textChanged, this, &FrmOmbrixLevel::TextLo_Change);
    connect(VsHi, &VScrollBar::Change, this, &FrmOmbrixLevel::VsHi_Change);
    connect(VsStop, &VScrollBar::Change, this, &FrmOmbrixLevel::VsStop_Change);
    connect(VsLo, &VScrollBar::Change, this, &FrmOmbrixLevel::VsLo_Change);
}

void FrmOmbrixLevel::showEvent(QShowEvent *event)
{
    SetterWindow::showEvent(event);
    // Windows shows a tool window without activating it; the program's only
    // window takes the keyboard when it opens, as it does elsewhere.
    activateWindow();
}

void FrmOmbrixLevel::TextHi_Change() { textToBar(*TextHi, *VsHi); }
void FrmOmbrixLevel::TextStop_Change() { textToBar(*TextStop, *VsStop); }
void FrmOmbrixLevel::TextLo_Change() { textToBar(*TextLo, *VsLo); }
void FrmOmbrixLevel::VsHi_Change() { barToText(*VsHi, *TextHi); }
void FrmOmbrixLevel::VsStop_Change() { barToText(*VsStop, *TextStop); }
void FrmOmbrixLevel::VsLo_Change() { barToText(*VsLo, *TextLo); }

LevelRecord FrmOmbrixLevel::record() const
{
    return {std::uint8_t(VsHi->Value()), std::uint8_t(VsStop->Value()), std::uint8_t(VsLo->Value())};
}

void FrmOmbrixLevel::CmdWr_Click()
{
    sendFrame(LevelFrame(record()));
}

void FrmOmbrixLevel::parameterReply(const QByteArray &block)
{
    const std::optional<LevelRecord> values = LevelReply(block);
    if (!values)
        return;
    VsHi->setValue(values->HighSeconds);
    VsStop->setValue(values->StopSeconds);
    VsLo->setValue(values->LowSeconds);
}

} // namespace ombrix
