#pragma once

#include "levelmodel.h"
#include "setterwindow.h"

class QLineEdit;

namespace ombrix {

class VScrollBar;

// The three-level window: high, stop and low seconds.
class FrmOmbrixLevel : public SetterWindow
{
    Q_OBJECT
public:
    static constexpr const char *Title = "Ombrix3";

    explicit FrmOmbrixLevel(std::unique_ptr<SerialControl> serial, QWidget *parent = nullptr);

    // What the scroll bars hold.
    LevelRecord record() const;

public slots:
    void CmdWr_Click() override;

    void TextHi_Change();
    void TextStop_Change();
    void TextLo_Change();
    void VsHi_Change();
    void VsStop_Change();
    void VsLo_Change();

protected:
    void showEvent(QShowEvent *event) override;
    void parameterReply(const QByteArray &block) override;

private:
    QLineEdit *TextHi;
    QLineEdit *TextStop;
    QLineEdit *TextLo;
    VScrollBar *VsHi;
    VScrollBar *VsStop;
    VScrollBar *VsLo;
};

} // namespace ombrix
