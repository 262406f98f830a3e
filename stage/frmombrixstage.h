#pragma once

#include "setterwindow.h"
#include "stagemodel.h"

class QLineEdit;
class QRadioButton;

namespace ombrix {

class VScrollBar;

// The five-stage window: two functions of five stages, each a time and a speed.
class FrmOmbrixStage : public SetterWindow
{
    Q_OBJECT
public:
    static constexpr const char *Title = "Ombrix5";

    explicit FrmOmbrixStage(std::unique_ptr<SerialControl> serial, QWidget *parent = nullptr);

    // What the controls hold: times from the scroll bars, speeds from the
    // selected options.
    StageProgramme programme() const;

public slots:
    void CmdWr_Click() override;

    void TextStep1_Change(int Index);
    void TextStep2_Change(int Index);
    void TextStep3_Change(int Index);
    void TextStep4_Change(int Index);
    void TextStep5_Change(int Index);
    void VsStep1_Change(int Index);
    void VsStep2_Change(int Index);
    void VsStep3_Change(int Index);
    void VsStep4_Change(int Index);
    void VsStep5_Change(int Index);

protected:
    void parameterReply(const QByteArray &block) override;

private:
    QLineEdit *TextStep(int stage, int index) const;
    VScrollBar *VsStep(int stage, int index) const;
    QRadioButton *OptStep(int stage, int item) const;
};

} // namespace ombrix
