#include "frmombrixstage.h"

#include "controls.h"
#include "icons.h"
#include "serialcontrol.h"
#include "stagedesign.h"
#include "timepair.h"
#include "twips.h"

#include <QLineEdit>
#include <QRadioButton>

namespace ombrix {

FrmOmbrixStage::FrmOmbrixStage(std::unique_ptr<SerialControl> serial, QWidget *parent)
    : SetterWindow(QString::fromLatin1(Title), stageDesign(), std::move(serial), parent)
{
    setWindowTitle(QStringLiteral("奶泡機時間參數設定 V1.3"));
    setWindowIcon(icoIcon(QStringLiteral(":/program.ico")));
    // Open large enough for the whole layout; the controls never move.
    resize(toPixels(15135), toPixels(10695));

    for (int k = 1; k <= StageCount; ++k) {
        for (int index = 0; index < FunctionCount; ++index) {
            m_textStep[k - 1][index] = built<QLineEdit>(QStringLiteral("TextStep%1(%2)").arg(k).arg(index));
            m_vsStep[k - 1][index] = built<VScrollBar>(QStringLiteral("VsStep%1(%2)").arg(k).arg(index));
        }
        for (int item = 0; item < FunctionCount * SpeedOptionsPerStage; ++item)
            m_optStep[k - 1][item] = built<QRadioButton>(QStringLiteral("OptStep%1(%2)").arg(k).arg(item));
    }

    using Handler = void (FrmOmbrixStage::*)(int);
    const Handler textHandlers[StageCount] = {
        &FrmOmbrixStage::TextStep1_Change, &FrmOmbrixStage::TextStep2_Change, &FrmOmbrixStage::TextStep3_Change,
        &FrmOmbrixStage::TextStep4_Change, &FrmOmbrixStage::TextStep5_Change};
    const Handler barHandlers[StageCount] = {
        &FrmOmbrixStage::VsStep1_Change, &FrmOmbrixStage::VsStep2_Change, &FrmOmbrixStage::VsStep3_Change,
        &FrmOmbrixStage::VsStep4_Change, &FrmOmbrixStage::VsStep5_Change};
    for (int k = 1; k <= StageCount; ++k) {
        for (int index = 0; index < FunctionCount; ++index) {
            const Handler onText = textHandlers[k - 1];
            const Handler onBar = barHandlers[k - 1];
            connect(TextStep(k, index), &QLineEdit::textChanged, this, [this, onText, index] { (this->*onText)(index); });
            connect(VsStep(k, index), &VScrollBar::Change, this, [this, onBar, index] { (this->*onBar)(index); });
        }
    }
}

void FrmOmbrixStage::TextStep1_Change(int Index) { textToBar(*TextStep(1, Index), *VsStep(1, Index)); }
void FrmOmbrixStage::TextStep2_Change(int Index) { textToBar(*TextStep(2, Index), *VsStep(2, Index)); }
void FrmOmbrixStage::TextStep3_Change(int Index) { textToBar(*TextStep(3, Index), *VsStep(3, Index)); }
void FrmOmbrixStage::TextStep4_Change(int Index) { textToBar(*TextStep(4, Index), *VsStep(4, Index)); }
void FrmOmbrixStage::TextStep5_Change(int Index) { textToBar(*TextStep(5, Index), *VsStep(5, Index)); }
void FrmOmbrixStage::VsStep1_Change(int Index) { barToText(*VsStep(1, Index), *TextStep(1, Index)); }
void FrmOmbrixStage::VsStep2_Change(int Index) { barToText(*VsStep(2, Index), *TextStep(2, Index)); }
void FrmOmbrixStage::VsStep3_Change(int Index) { barToText(*VsStep(3, Index), *TextStep(3, Index)); }
void FrmOmbrixStage::VsStep4_Change(int Index) { barToText(*VsStep(4, Index), *TextStep(4, Index)); }
void FrmOmbrixStage::VsStep5_Change(int Index) { barToText(*VsStep(5, Index), *TextStep(5, Index)); }

StageProgramme FrmOmbrixStage::programme() const
{
    StageProgramme p{};
    for (int f = 0; f < FunctionCount; ++f) {
        for (int k = 1; k <= StageCount; ++k) {
            StageSetting &stage = p[f][k - 1];
            stage.time = std::uint8_t(VsStep(k, f)->Value());
            for (int j = 0; j < SpeedOptionsPerStage; ++j) {
                const int item = SpeedOptionsPerStage * f + j;
                if (OptStep(k, item)->isChecked()) {
                    stage.speed = std::uint8_t(speedCodeOfItem(item));
                    break;
                }
            }
        }
    }
    return p;
}

void FrmOmbrixStage::CmdWr_Click()
{
    sendFrame(WriteFrame(programme()));
}

void FrmOmbrixStage::parameterReply(const QByteArray &block)
{
    const std::optional<ParamValues> values = ParamReply(block);
    if (!values)
        return;
    // All ten bars first, each box following its bar, then the speeds.
    for (int f = 0; f < FunctionCount; ++f)
        for (int k = 1; k <= StageCount; ++k)
            VsStep(k, f)->setValue(values->time[f][k - 1]);
    for (int f = 0; f < FunctionCount; ++f)
        for (int k = 1; k <= StageCount; ++k)
            if (const auto code = values->speed[f][k - 1])
                OptStep(k, itemOfSpeedCode(*code, f))->setChecked(true);
}

} // namespace ombrix
