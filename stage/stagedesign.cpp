#include "stagedesign.h"

#include "stagemodel.h"

namespace ombrix {

namespace {

const QColor Silver(192, 192, 192);
const QColor White(255, 255, 255);

struct SpeedLook
{
    const char *caption;
    QColor background;
};

// Top to bottom: three greys from light to dark, then green for pause.
const SpeedLook speedLooks[SpeedOptionsPerStage] = {
    {"高速", QColor(224, 224, 224)},
    {"低速", QColor(192, 192, 192)},
    {"慢速", QColor(128, 128, 128)},
    {"暫停", QColor(0, 192, 0)},
};

const char *const stageCaptions[StageCount] = {"第一段", "第二段", "第三段", "第四段", "第五段"};

// Item of the "S" label in Frame1 .. Frame10.
const int unitLabelItems[StageCount * FunctionCount] = {6, 2, 1, 5, 8, 0, 3, 4, 7, 9};

void addStageGrid(Design &d)
{
    d << label("Label8").at(4800, 0).size(1095, 375).text("功能1").font(15.75, true).centred().bordered()
      << label("Label7").at(4800, 4560).size(1095, 375).text("功能2").font(15.75, true).centred().bordered();

    // Brackets around each row, open at the bottom.
    d << line("Line3", -1, 240, 240, 4680, 240) << line("Line4", -1, 6000, 240, 10440, 240)
      << line("Line5", 1, 240, 240, 240, 4200) << line("Line5", 0, 10440, 240, 10440, 4200)
      << line("Line1", -1, 240, 4800, 4680, 4800) << line("Line2", -1, 6000, 4800, 10440, 4800)
      << line("Line5", 2, 240, 4800, 240, 8760) << line("Line5", 3, 10440, 4800, 10440, 8760);

    for (int r = 0; r < FunctionCount; ++r) {
        for (int k = 1; k <= StageCount; ++k) {
            const int frameNumber = k + 5 * r;
            const QString frameName = QStringLiteral("Frame%1").arg(frameNumber);
            const StageSetting defaults = StageDefaults[r][k - 1];
            d << frame(frameName)
                     .at(360 + 2040 * (k - 1), r == 0 ? 480 : 5040)
                     .size(1815, 3735)
                     .text(stageCaptions[k - 1])
                     .font(14.25, true);
            for (int j = 0; j < SpeedOptionsPerStage; ++j) {
                ControlSpec o = option(QStringLiteral("OptStep%1").arg(k), 4 * r + j)
                                    .in(frameName)
                                    .at(120, 360 + 600 * j)
                                    .size(1455, 495)
                                    .text(speedLooks[j].caption)
                                    .font(14.25, true)
                                    .background(speedLooks[j].background);
                if (speedCodeOfItem(j) == defaults.speed)
                    o.selected();
                d << o;
            }
            d << textBox(QStringLiteral("TextStep%1").arg(k), r)
                     .in(frameName)
                     .at(120, 2880)
                     .size(615, k <= 2 ? 555 : 585)
                     .font(18, true)
                     .right()
                     .maxChars(3)
                     .text(QString::number(defaults.time))
              << label(QStringLiteral("Label1"), unitLabelItems[frameNumber - 1])
                     .in(frameName)
                     .at(720, 2880)
                     .size(375, 615)
                     .text("S")
                     .font(18)
                     .centred()
                     .background(White)
              << vScroll(QStringLiteral("VsStep%1").arg(k), r)
                     .in(frameName)
                     .at(1080, 2880)
                     .size(495, 615)
                     .range(255, 0, defaults.time);
        }
    }
}

void addStepsPanel(Design &d)
{
    const QColor darkBlue(0, 0, 192);
    const QColor red(255, 0, 0);
    struct Step
    {
        int top;
        const char *name;
        int index;
        int width;
        const char *text;
    };
    const Step steps[] = {
        {480, "Label3", 0, 4095, "1.插入USB至設定器,同時連線指示燈亮."},
        {840, "Label4", -1, 2295, "2.執行設定軟體."},
        {1200, "Label3", 5, 1695, "3.選擇com port"},
        {1560, "Label5", -1, 4095, "4.按住設定器中間 按鍵不放."},
        {1920, "Label3", 1, 4095, "5.按讀取版本,確定連線OK."},
        {2280, "Label3", 2, 4095, "6.調整所須設定時間及選擇速度."},
        {2640, "Label3", 3, 4095, "7.按寫入,同時設定器紅外線會亮."},
        {3360, "Label3", 4, 4095, "註.如須讀取設定器參數,按讀取."},
    };
    d << frame("Frame11").at(10680, 240).size(4455, 3975).text("設定操作步驟").font(12);
    for (const Step &s : steps) {
        const bool note = s.top == 3360;
        d << label(s.name, s.index)
                 .in("Frame11")
                 .at(120, s.top)
                 .size(s.width, 375)
                 .text(s.text)
                 .font(12)
                 .foreground(note ? red : darkBlue);
    }
}

void addLinkControls(Design &d)
{
    d << button("CmdVersion").at(10680, 4680).size(1095, 1095).text("讀取版本(5)").pictured(":/version.ico")
      << button("CmdWr").at(10680, 6000).size(1095, 975).text("寫入(7)").pictured(":/write.ico")
      << button("CmdRd").at(10680, 7200).size(1095, 975).text("讀取(註)").pictured(":/read.ico")
      << button("CmdTest").at(10680, 8400).size(1095, 975).text("紅外線測試").pictured(":/test.ico")
      << label("Label2").at(12120, 4440).size(2775, 495).text("韌體版本").font(18).centred()
      << label("LblVersion").at(11880, 4920).size(3255, 495).font(15.75).centred().bordered()
      << frame("FamCOM").at(120, 9000).size(9015, 975).text("Com Port");
    for (int n = 1; n <= 8; ++n) {
        ControlSpec o = option(QStringLiteral("OptCom%1").arg(n))
                            .in("FamCOM")
                            .at(120 + 1080 * (n - 1), 360)
                            .size(975, 375)
                            .text(QStringLiteral("COM%1").arg(n))
                            .background(Silver);
        if (n == 1)
            o.selected();
        d << o;
    }
    d << button("CmdClear").at(9240, 9120).size(1095, 855).text("Clear").pictured(":/clear.ico").hidden()
      << multiText("TextRec").at(120, 10080).size(9015, 615).font(12).hidden();
}

QStringList stageTabOrder()
{
    QStringList order;
    for (int n = 1; n <= 8; ++n)
        order << QStringLiteral("OptCom%1").arg(n);
    order << "CmdWr" << "TextRec" << "CmdClear" << "CmdRd" << "CmdTest" << "CmdVersion";
    for (int r = 0; r < FunctionCount; ++r) {
        for (int k = 1; k <= StageCount; ++k) {
            for (int j = 0; j < SpeedOptionsPerStage; ++j)
                order << QStringLiteral("OptStep%1(%2)").arg(k).arg(4 * r + j);
            order << QStringLiteral("TextStep%1(%2)").arg(k).arg(r)
                  << QStringLiteral("VsStep%1(%2)").arg(k).arg(r);
        }
    }
    return order;
}

Design makeStageDesign()
{
    Design d;
    addStageGrid(d);
    addStepsPanel(d);
    addLinkControls(d);
    d.tabOrder = stageTabOrder();
    return d;
}

} // namespace

const Design &stageDesign()
{
    static const Design design = makeStageDesign();
    return design;
}

} // namespace ombrix
