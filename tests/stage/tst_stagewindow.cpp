#include "fakeserial.h"
#include "fakestart.h"
#include "frmombrixstage.h"
#include "controls.h"
#include "boxwatcher.h"
#include "widgetprobe.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace ombrix;

namespace {

struct Row
{
    QString key;
    QString kind;
    QString parent;
    QString caption;
    int left, top, width, height;
    double points = 0;
    bool bold = false;
    QString place = {}; // where a label's or a text box's text sits in its box
    bool boxed = false; // a label inside a one-line border
};

// The five-stage window as its design lays it out, in twips.
QList<Row> expectedDesign()
{
    QList<Row> rows = {
        {"Label8", "label", "", "功能1", 4800, 0, 1095, 375, 15.75, true, "centre top", true},
        {"Label7", "label", "", "功能2", 4800, 4560, 1095, 375, 15.75, true, "centre top", true},
        {"Frame11", "frame", "", "設定操作步驟", 10680, 240, 4455, 3975, 12, false},
        {"Label3(0)", "label", "Frame11", "1.插入USB至設定器,同時連線指示燈亮.", 120, 480, 4095, 375, 12, false, "left top"},
        {"Label4", "label", "Frame11", "2.執行設定軟體.", 120, 840, 2295, 375, 12, false, "left top"},
        {"Label3(5)", "label", "Frame11", "3.選擇com port", 120, 1200, 1695, 375, 12, false, "left top"},
        {"Label5", "label", "Frame11", "4.按住設定器中間 按鍵不放.", 120, 1560, 4095, 375, 12, false, "left top"},
        {"Label3(1)", "label", "Frame11", "5.按讀取版本,確定連線OK.", 120, 1920, 4095, 375, 12, false, "left top"},
        {"Label3(2)", "label", "Frame11", "6.調整所須設定時間及選擇速度.", 120, 2280, 4095, 375, 12, false, "left top"},
        {"Label3(3)", "label", "Frame11", "7.按寫入,同時設定器紅外線會亮.", 120, 2640, 4095, 375, 12, false, "left top"},
        {"Label3(4)", "label", "Frame11", "註.如須讀取設定器參數,按讀取.", 120, 3360, 4095, 375, 12, false, "left top"},
        {"CmdVersion", "button", "", "讀取版本(5)", 10680, 4680, 1095, 1095},
        {"CmdWr", "button", "", "寫入(7)", 10680, 6000, 1095, 975},
        {"CmdRd", "button", "", "讀取(註)", 10680, 7200, 1095, 975},
        {"CmdTest", "button", "", "紅外線測試", 10680, 8400, 1095, 975},
        {"CmdClear", "button", "", "Clear", 9240, 9120, 1095, 855},
        {"Label2", "label", "", "韌體版本", 12120, 4440, 2775, 495, 18, false, "centre top"},
        {"LblVersion", "label", "", "", 11880, 4920, 3255, 495, 15.75, false, "centre top", true},
        {"FamCOM", "frame", "", "Com Port", 120, 9000, 9015, 975},
        {"TextRec", "multi", "", "", 120, 10080, 9015, 615, 12, false},
    };
    for (int n = 1; n <= 8; ++n)
        rows.append({QString("OptCom%1").arg(n), "option", "FamCOM", QString("COM%1").arg(n), 120 + 1080 * (n - 1), 360, 975, 375});

    const QStringList stages = {"第一段", "第二段", "第三段", "第四段", "第五段"};
    const QStringList speeds = {"高速", "低速", "慢速", "暫停"};
    const int defaults[2][5] = {{5, 20, 8, 30, 5}, {10, 10, 10, 10, 10}};
    const int unitItems[10] = {6, 2, 1, 5, 8, 0, 3, 4, 7, 9};
    for (int r = 0; r < 2; ++r) {
        for (int k = 1; k <= 5; ++k) {
            const QString f = QString("Frame%1").arg(k + 5 * r);
            rows.append({f, "frame", "", stages[k - 1], 360 + 2040 * (k - 1), r ? 5040 : 480, 1815, 3735, 14.25, true});
            for (int j = 0; j < 4; ++j)
                rows.append({QString("OptStep%1(%2)").arg(k).arg(4 * r + j), "option", f, speeds[j], 120, 360 + 600 * j, 1455, 495, 14.25, true});
            rows.append({QString("TextStep%1(%2)").arg(k).arg(r), "text", f, QString::number(defaults[r][k - 1]), 120, 2880, 615, k <= 2 ? 555 : 585, 18, true, "right middle"});
            rows.append({QString("Label1(%1)").arg(unitItems[k - 1 + 5 * r]), "label", f, "S", 720, 2880, 375, 615, 18, false, "centre top"});
            rows.append({QString("VsStep%1(%2)").arg(k).arg(r), "vscroll", f, "", 1080, 2880, 495, 615});
        }
    }
    return rows;
}

QString kindOf(QWidget *w)
{
    if (qobject_cast<QGroupBox *>(w)) return "frame";
    if (qobject_cast<QLabel *>(w)) return "label";
    if (qobject_cast<QRadioButton *>(w)) return "option";
    if (qobject_cast<QLineEdit *>(w)) return "text";
    if (qobject_cast<QToolButton *>(w)) return "button";
    if (qobject_cast<QPlainTextEdit *>(w)) return "multi";
    if (qobject_cast<VScrollBar *>(w)) return "vscroll";
    return "other";
}

} // namespace

class TestStageWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void designMatches();
    void startState();
    void colours_data();
    void colours();
    void linesBracketTheRows();
    void tabOrder();
    void windowHoldsWholeLayout();
    void speedGroupsAreIndependent();

    void probeDisablesMissingPorts_data();
    void probeDisablesMissingPorts();
    void disabledOptionCannotBeChosen();
    void choosingPortOpensIt();
    void choosingVanishedPortTellsOperator();
    void setterPluggedInAfterStartStaysDisabled();

    void mouseDownOnlyOnWindowSurface_data();
    void mouseDownOnlyOnWindowSurface();

private:
    FakeSerial *serial = nullptr;
    FrmOmbrixStage *window = nullptr;

    void makeWindow(const QSet<int> &present)
    {
        auto fake = std::make_unique<FakeSerial>();
        fake->present = present;
        serial = fake.get();
        window = new FrmOmbrixStage(std::move(fake));
    }
    // Replaces the window with one the program starts on these ports.
    void start(const QSet<int> &present)
    {
        cleanup();
        auto started = probe::startOnFake<FrmOmbrixStage>(present);
        serial = started.serial;
        window = started.window.release();
    }
    template <typename T = QWidget> T *c(const QString &key) const
    {
        return probe::control<T>(window, key);
    }
};

void TestStageWindow::init()
{
    makeWindow({});
}

void TestStageWindow::cleanup()
{
    delete window;
    window = nullptr;
}

void TestStageWindow::designMatches()
{
    const QList<Row> rows = expectedDesign();
    for (const Row &row : rows) {
        QWidget *w = c(row.key);
        QCOMPARE(kindOf(w), row.kind);
        const QString parentKey = w->parentWidget() == window ? QString() : w->parentWidget()->objectName();
        QCOMPARE(parentKey, row.parent);
        QCOMPARE(probe::captionOf(w), row.caption);
        const QRect want = probe::px(row.left, row.top, row.width, row.height);
        QCOMPARE(w->pos(), want.topLeft());
        QCOMPARE(w->height(), want.height());
        // A step whose caption needs it runs on over the free space to its right.
        if (w->width() != want.width())
            QVERIFY2(row.kind == "label" && w->width() > want.width(), qPrintable(row.key));
        if (row.points > 0) {
            QCOMPARE(w->font().pointSizeF(), row.points);
            QCOMPARE(w->font().bold(), row.bold);
            QCOMPARE(w->font().families(), designFontFamilies());
        }
        QCOMPARE(probe::textPlace(w), row.place);
        QCOMPARE(probe::boxed(w), row.boxed);
    }
    QCOMPARE(window->windowTitle(), QString("奶泡機時間參數設定 V1.3"));
}

void TestStageWindow::startState()
{
    const int defaults[2][5] = {{5, 20, 8, 30, 5}, {10, 10, 10, 10, 10}};
    const int speedItem[5] = {2, 0, 3, 1, 2};
    for (int r = 0; r < 2; ++r) {
        for (int k = 1; k <= 5; ++k) {
            auto *vs = c<VScrollBar>(QString("VsStep%1(%2)").arg(k).arg(r));
            QCOMPARE(vs->Value(), defaults[r][k - 1]);
            QCOMPARE(c<QLineEdit>(QString("TextStep%1(%2)").arg(k).arg(r))->maxLength(), 3);
            for (int j = 0; j < 4; ++j)
                QCOMPARE(c<QRadioButton>(QString("OptStep%1(%2)").arg(k).arg(4 * r + j))->isChecked(), j == speedItem[k - 1]);
        }
    }
    QVERIFY(c<QRadioButton>("OptCom1")->isChecked());
    for (int n = 1; n <= 8; ++n)
        QVERIFY(c("OptCom" + QString::number(n))->isEnabled());
    QVERIFY(c("TextRec")->isHidden());
    QVERIFY(c("CmdClear")->isHidden());
    QVERIFY(c<QLabel>("LblVersion")->text().isEmpty());
    QVERIFY(!serial->isOpen());
    for (const char *b : {"CmdVersion", "CmdWr", "CmdRd", "CmdTest", "CmdClear"})
        QVERIFY2(!c<QToolButton>(b)->icon().isNull(), b);
}

void TestStageWindow::colours_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("text");

    const QColor none;
    for (int item : {0, 4})
        QTest::addRow("OptStep3(%d)", item) << QString("OptStep3(%1)").arg(item) << QColor(224, 224, 224) << none;
    QTest::newRow("low") << "OptStep1(1)" << QColor(192, 192, 192) << none;
    QTest::newRow("slow") << "OptStep5(6)" << QColor(128, 128, 128) << none;
    QTest::newRow("pause") << "OptStep2(7)" << QColor(0, 192, 0) << none;
    QTest::newRow("port") << "OptCom6" << QColor(192, 192, 192) << none;
    QTest::newRow("unit") << "Label1(9)" << QColor(255, 255, 255) << none;
    QTest::newRow("step") << "Label5" << none << QColor(0, 0, 192);
    QTest::newRow("note") << "Label3(4)" << none << QColor(255, 0, 0);
}

void TestStageWindow::colours()
{
    QFETCH(QString, key);
    QFETCH(QColor, background);
    QFETCH(QColor, text);
    QWidget *w = c(key);
    if (background.isValid()) {
        QVERIFY(w->autoFillBackground());
        QCOMPARE(w->palette().color(w->backgroundRole()), background);
    }
    if (text.isValid())
        QCOMPARE(w->palette().color(QPalette::WindowText), text);
}

void TestStageWindow::linesBracketTheRows()
{
    struct L { const char *key; int x1, y1, x2, y2; };
    const L lines[] = {
        {"Line3", 240, 240, 4680, 240}, {"Line4", 6000, 240, 10440, 240},
        {"Line5(1)", 240, 240, 240, 4200}, {"Line5(0)", 10440, 240, 10440, 4200},
        {"Line1", 240, 4800, 4680, 4800}, {"Line2", 6000, 4800, 10440, 4800},
        {"Line5(2)", 240, 4800, 240, 8760}, {"Line5(3)", 10440, 4800, 10440, 8760},
    };
    for (const L &l : lines) {
        QWidget *w = c(l.key);
        const QRect g = w->geometry();
        // Three pixels thick, centred on the line from end to end.
        QCOMPARE(qMin(g.width(), g.height()), 3);
        QVERIFY2(g.contains(qRound(l.x1 / 15.0), qRound(l.y1 / 15.0)), l.key);
        QVERIFY2(g.contains(qRound(l.x2 / 15.0), qRound(l.y2 / 15.0)), l.key);
    }
}

void TestStageWindow::tabOrder()
{
    QStringList expected;
    for (int n = 1; n <= 8; ++n)
        expected << QString("OptCom%1").arg(n);
    expected << "CmdWr" << "TextRec" << "CmdClear" << "CmdRd" << "CmdTest" << "CmdVersion";
    for (int r = 0; r < 2; ++r)
        for (int k = 1; k <= 5; ++k) {
            for (int j = 0; j < 4; ++j)
                expected << QString("OptStep%1(%2)").arg(k).arg(4 * r + j);
            expected << QString("TextStep%1(%2)").arg(k).arg(r) << QString("VsStep%1(%2)").arg(k).arg(r);
        }

    const QStringList chain = probe::tabChain(c("OptCom1"), expected);
    QCOMPARE(chain, expected);
}

void TestStageWindow::windowHoldsWholeLayout()
{
    // Hidden ones too: the receive log and Clear reach the bottom edge.
    for (const QWidget *w : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        QVERIFY2(window->rect().contains(w->geometry()), qPrintable(w->objectName()));
    QVERIFY(!window->windowIcon().isNull());
}

void TestStageWindow::speedGroupsAreIndependent()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::mouseClick(c("OptStep2(3)"), Qt::LeftButton);
    QVERIFY(c<QRadioButton>("OptStep2(3)")->isChecked());
    QVERIFY(!c<QRadioButton>("OptStep2(0)")->isChecked());
    QVERIFY(c<QRadioButton>("OptStep2(4)")->isChecked()); // Frame7 keeps its choice
    QVERIFY(c<QRadioButton>("OptStep1(2)")->isChecked());
    QVERIFY(c<QRadioButton>("OptCom1")->isChecked());
}

void TestStageWindow::probeDisablesMissingPorts_data()
{
    QTest::addColumn<QSet<int>>("present");
    QTest::addColumn<bool>("open");

    QTest::newRow("no ports") << QSet<int>{} << false;
    QTest::newRow("only COM3") << QSet<int>{3} << false;
    QTest::newRow("COM8 present") << QSet<int>{8} << true;
    QTest::newRow("COM2 and COM8") << QSet<int>{2, 8} << true;
}

void TestStageWindow::probeDisablesMissingPorts()
{
    QFETCH(QSet<int>, present);
    QFETCH(bool, open);
    cleanup();
    makeWindow(present);
    serial->buffer = "left over";
    window->Form_Load();
    for (int n = 1; n <= 8; ++n)
        QCOMPARE(c("OptCom" + QString::number(n))->isEnabled(), present.contains(n));
    QVERIFY(c<QRadioButton>("OptCom1")->isChecked());
    QCOMPARE(serial->isOpen(), open);
    if (open) {
        QCOMPARE(serial->CommPort(), 8);
        QCOMPARE(serial->InBufferCount(), 0);
    }
}

void TestStageWindow::disabledOptionCannotBeChosen()
{
    start({3});
    QVERIFY(QTest::qWaitForWindowExposed(window));
    serial->log.clear();
    QTest::mouseClick(c("OptCom5"), Qt::LeftButton);
    QVERIFY(!c<QRadioButton>("OptCom5")->isChecked());
    QVERIFY(serial->log.isEmpty());
    QTest::mouseClick(c("OptCom3"), Qt::LeftButton);
    QVERIFY(serial->isOpen());
    QCOMPARE(serial->CommPort(), 3);
}

void TestStageWindow::choosingPortOpensIt()
{
    start({2, 5, 8});
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::mouseClick(c("OptCom2"), Qt::LeftButton);
    QCOMPARE(serial->CommPort(), 2);
    serial->buffer = "stale";
    serial->log.clear();
    QTest::mouseClick(c("OptCom5"), Qt::LeftButton);
    QCOMPARE(serial->log, (QStringList{"close 2", "port 5", "open 5", "clear"}));
    QCOMPARE(serial->InBufferCount(), 0);
    serial->log.clear();
    QTest::mouseClick(c("OptCom5"), Qt::LeftButton);
    QCOMPARE(serial->log, (QStringList{"close 5", "port 5", "open 5", "clear"}));
}

void TestStageWindow::choosingVanishedPortTellsOperator()
{
    start({2, 5});
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::mouseClick(c("OptCom2"), Qt::LeftButton);
    QVERIFY(serial->isOpen());
    serial->present.remove(5); // pulled out since start

    probe::BoxWatcher boxes;
    QTest::mouseClick(c("OptCom5"), Qt::LeftButton);
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY2(boxes.texts.first().contains("COM5"), qPrintable(boxes.texts.first()));
    QVERIFY(!serial->isOpen());
    // The operator can go back to a port that works.
    QTest::mouseClick(c("OptCom2"), Qt::LeftButton);
    QVERIFY(serial->isOpen());
    QCOMPARE(serial->CommPort(), 2);
}

void TestStageWindow::setterPluggedInAfterStartStaysDisabled()
{
    window->Form_Load();
    serial->present.insert(4);
    QVERIFY(!c("OptCom4")->isEnabled());
}

void TestStageWindow::mouseDownOnlyOnWindowSurface_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<bool>("raised");

    QTest::newRow("left margin") << QString() << QPoint(5, 300) << true;
    QTest::newRow("on a bracket line") << QString() << QPoint(16, 100) << true;
    QTest::newRow("label") << "Label8" << QPoint(10, 10) << false;
    QTest::newRow("unit label") << "Label1(6)" << QPoint(5, 5) << false;
    QTest::newRow("frame") << "Frame3" << QPoint(60, 20) << false;
    QTest::newRow("steps label") << "Label4" << QPoint(5, 5) << false;
    QTest::newRow("version") << "LblVersion" << QPoint(5, 5) << false;
}

void TestStageWindow::mouseDownOnlyOnWindowSurface()
{
    QFETCH(QString, target);
    QFETCH(QPoint, at);
    QFETCH(bool, raised);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QSignalSpy down(window, &SetterWindow::MouseDown);
    QWidget *w = target.isEmpty() ? window : c(target);
    QTest::mousePress(w, Qt::LeftButton, Qt::ShiftModifier | Qt::AltModifier, at);
    QTest::mouseRelease(w, Qt::LeftButton, Qt::ShiftModifier | Qt::AltModifier, at);
    QCOMPARE(down.count(), raised ? 1 : 0);
    if (raised) {
        const QList<QVariant> args = down.takeFirst();
        QCOMPARE(args.at(0).toInt(), 1);
        QCOMPARE(args.at(1).toInt(), 5);
        QCOMPARE(args.at(2).toFloat(), float(at.x() * 15));
        QCOMPARE(args.at(3).toFloat(), float(at.y() * 15));
    }
}

QTEST_MAIN(TestStageWindow)
#include "tst_stagewindow.moc"
