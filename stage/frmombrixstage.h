#pragma once

#include "setterwindow.h"
#include "stagemodel.h"

#include <array>

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
    // Stage 1..5; index is the function (0, 1), item the speed option (0..7).
    QLineEdit *TextStep(int stage, int index) const { return m_textStep[stage - 1][index]; }
    VScrollBar *VsStep(int stage, int index) const { return m_vsStep[stage - 1][index]; }
    QRadioButton *OptStep(int stage, int item) const { return m_optStep[stage - 1][item]; }

    std::array<std::array<QLineEdit *, FunctionCount>, StageCount> m_textStep{};
    std::array<std::array<VScrollBar *, FunctionCount>, StageCount> m_vsStep{};
    std::array<std::array<QRadioButton *, FunctionCount * SpeedOptionsPerStage>, StageCount> m_optStep{};
};

} // namespace ombrix
