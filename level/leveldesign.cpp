#include "leveldesign.h"

#include "levelmodel.h"

namespace ombrix {

namespace {

Design makeLevelDesign()
{
    const QColor silver(192, 192, 192);
    const QColor white(255, 255, 255);
    struct Row
    {
        int top;
        int captionItem;
        const char *caption;
        int unitItem;
        const char *pair;
        int boxHeight;
        int value;
    };
    const Row rows[] = {
        {360, 0, "高速秒數", 2, "Hi", 555, LevelDefaults.HighSeconds},
        {1320, 13, "停止秒數", 1, "Stop", 585, LevelDefaults.StopSeconds},
        {2280, 4, "低速秒數", 5, "Lo", 585, LevelDefaults.LowSeconds},
    };

    Design d;
    for (const Row &r : rows) {
        d << label("Label1", r.captionItem).at(240, r.top).size(1695, 615).text(r.caption).font(18).centred().background(silver)
          << textBox(QStringLiteral("Text%1").arg(r.pair))
                 .at(1920, r.top)
                 .size(615, r.boxHeight)
                 .font(18, true)
                 .right()
                 .maxChars(3)
                 .text(QString::number(r.value))
          << label("Label1", r.unitItem).at(2520, r.top).size(375, 615).text("S").font(18).centred().background(white)
          << vScroll(QStringLiteral("Vs%1").arg(r.pair)).at(2880, r.top).size(495, 615).range(255, 0, r.value);
    }
    d << button("CmdWr").at(3720, 240).size(975, 735).text("寫入").pictured(":/write.ico")
      << button("CmdRd").at(3720, 1200).size(975, 735).text("讀取").pictured(":/read.ico")
      << button("CmdTest").at(3720, 2160).size(975, 735).text("IR 測試").pictured(":/test.ico")
      << button("CmdVersion").at(4080, 3240).size(975, 735).text("讀取版本").pictured(":/version.ico")
      << label("Label2").at(240, 3360).size(1215, 495).text("Version").font(18)
      << label("LblVersion").at(1440, 3360).size(2655, 495).font(15.75).centred().bordered()
      << frame("FamCOM").at(120, 4080).size(5055, 1695).text("Com Port");
    for (int n = 1; n <= 8; ++n) {
        ControlSpec o = option(QStringLiteral("OptCom%1").arg(n))
                            .in("FamCOM")
                            .at(120 + 1080 * ((n - 1) % 4), n <= 4 ? 360 : 960)
                            .size(975, 375)
                            .text(QStringLiteral("COM%1").arg(n))
                            .background(silver);
        if (n == 1)
            o.selected();
        d << o;
    }
    d << multiText("TextRec").at(120, 5880).size(5055, 1335).font(12)
      << button("CmdClear").at(5280, 5880).size(975, 735).text("Clear").pictured(":/clear.ico").hidden();

    for (int n = 1; n <= 8; ++n)
        d.tabOrder << QStringLiteral("OptCom%1").arg(n);
    d.tabOrder << "CmdWr" << "TextRec" << "CmdClear" << "CmdRd" << "VsLo" << "TextLo" << "TextStop" << "VsStop"
               << "TextHi" << "VsHi" << "CmdTest" << "CmdVersion";
    return d;
}

} // namespace

const Design &levelDesign()
{
    static const Design design = makeLevelDesign();
    return design;
}

} // namespace ombrix
