#include "bytes.h"
#include "controls.h"
#include "fakeserial.h"
#include "fakestart.h"
#include "frmombrixlevel.h"
#include "patience.h"
#ifdef OMBRIX_HAVE_PTY
#include "pty.h"
#include "qtserialcontrol.h"
#endif
#include "widgetprobe.h"

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QToolButton>

using namespace ombrix;
using probe::hex;

class TestLevelWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void designMatches();
    void windowFrame();
    void startState();
    void receiveLogStartsShown();
    void timeEntry();
    void upArrowRaises();
    void writeSendsTheBars();
    void reply_data();
    void reply();
#ifdef OMBRIX_HAVE_PTY
    void roundTripThroughSetter();
#endif

private:
    FakeSerial *serial = nullptr;
    FrmOmbrixLevel *window = nullptr;

    template <typename T = QWidget> T *c(const QString &key) const
    {
        return probe::control<T>(window, key);
    }
    void enter(const QString &key, const QString &text, bool paste) { probe::enterText(c<QLineEdit>(key), text, paste); }
    QList<int> values() const
    {
        return {c<VScrollBar>("VsHi")->Value(), c<VScrollBar>("VsStop")->Value(), c<VScrollBar>("VsLo")->Value()};
    }
    QStringList texts() const
    {
        return {c<QLineEdit>("TextHi")->text(), c<QLineEdit>("TextStop")->text(), c<QLineEdit>("TextLo")->text()};
    }
};

void TestLevelWindow::init()
{
    auto started = probe::startOnFake<FrmOmbrixLevel>({8});
    serial = started.serial;
    window = started.window.release();
}

void TestLevelWindow::cleanup()
{
    delete window;
    window = nullptr;
}

void TestLevelWindow::designMatches()
{
    struct Row
    {
        const char *key;
        const char *parent;
        const char *caption;
        int left, top, width, height;
        double points;
        bool bold;
        const char *place = ""; // where a label's or a text box's text sits in its box
        bool boxed = false; // a label inside a one-line border
    };
    const Row rows[] = {
        {"Label1(0)", "", "高速秒數", 240, 360, 1695, 615, 18, false, "centre top"},
        {"TextHi", "", "10", 1920, 360, 615, 555, 18, true, "right middle"},
        {"Label1(2)", "", "S", 2520, 360, 375, 615, 18, false, "centre top"},
        {"VsHi", "", "", 2880, 360, 495, 615, 0, false},
        {"Label1(13)", "", "停止秒數", 240, 1320, 1695, 615, 18, false, "centre top"},
        {"TextStop", "", "2", 1920, 1320, 615, 585, 18, true, "right middle"},
        {"Label1(1)", "", "S", 2520, 1320, 375, 615, 18, false, "centre top"},
        {"VsStop", "", "", 2880, 1320, 495, 615, 0, false},
        {"Label1(4)", "", "低速秒數", 240, 2280, 1695, 615, 18, false, "centre top"},
        {"TextLo", "", "10", 1920, 2280, 615, 585, 18, true, "right middle"},
        {"Label1(5)", "", "S", 2520, 2280, 375, 615, 18, false, "centre top"},
        {"VsLo", "", "", 2880, 2280, 495, 615, 0, false},
        {"CmdWr", "", "寫入", 3720, 240, 975, 735, 0, false},
        {"CmdRd", "", "讀取", 3720, 1200, 975, 735, 0, false},
        {"CmdTest", "", "IR 測試", 3720, 2160, 975, 735, 0, false},
        {"CmdVersion", "", "讀取版本", 4080, 3240, 975, 735, 0, false},
        {"Label2", "", "Version", 240, 3360, 1215, 495, 18, false, "left top"},
        {"LblVersion", "", "", 1440, 3360, 2655, 495, 15.75, false, "centre top", true},
        {"FamCOM", "", "Com Port", 120, 4080, 5055, 1695, 0, false},
        {"OptCom1", "FamCOM", "COM1", 120, 360, 975, 375, 0, false},
        {"OptCom2", "FamCOM", "COM2", 1200, 360, 975, 375, 0, false},
        {"OptCom3", "FamCOM", "COM3", 2280, 360, 975, 375, 0, false},
        {"OptCom4", "FamCOM", "COM4", 3360, 360, 975, 375, 0, false},
        {"OptCom5", "FamCOM", "COM5", 120, 960, 975, 375, 0, false},
        {"OptCom6", "FamCOM", "COM6", 1200, 960, 975, 375, 0, false},
        {"OptCom7", "FamCOM", "COM7", 2280, 960, 975, 375, 0, false},
        {"OptCom8", "FamCOM", "COM8", 3360, 960, 975, 375, 0, false},
        {"TextRec", "", "", 120, 5880, 5055, 1335, 12, false},
        {"CmdClear", "", "Clear", 5280, 5880, 975, 735, 0, false},
    };
    for (const Row &r : rows) {
        QWidget *w = c(r.key);
        const QString parent = w->parentWidget() == window ? QString() : w->parentWidget()->objectName();
        QCOMPARE(parent, QString(r.parent));
        QCOMPARE(probe::captionOf(w), QString(r.caption));
        QCOMPARE(w->geometry(), probe::px(r.left, r.top, r.width, r.height));
        if (r.points > 0) {
            QCOMPARE(w->font().pointSizeF(), r.points);
            QCOMPARE(w->font().bold(), r.bold);
        }
        QCOMPARE(probe::textPlace(w), QString(r.place));
        QCOMPARE(probe::boxed(w), r.boxed);
    }
    for (const char *name : {"Label1(0)", "Label1(13)", "Label1(4)", "OptCom3"})
        QCOMPARE(c(name)->palette().color(c(name)->backgroundRole()), QColor(192, 192, 192));
    for (const char *name : {"Label1(2)", "Label1(1)", "Label1(5)"})
        QCOMPARE(c(name)->palette().color(c(name)->backgroundRole()), QColor(255, 255, 255));
    for (const char *name : {"TextHi", "TextStop", "TextLo"})
        QCOMPARE(c<QLineEdit>(name)->maxLength(), 3);
    for (const char *name : {"CmdWr", "CmdRd", "CmdTest", "CmdVersion", "CmdClear"})
        QVERIFY(!c<QToolButton>(name)->icon().isNull());

    // Tab order: the ports, the buttons and log, then the pairs bottom up.
    const QStringList expected = {"OptCom1", "OptCom2", "OptCom3", "OptCom4", "OptCom5", "OptCom6", "OptCom7",
                                  "OptCom8", "CmdWr", "TextRec", "CmdClear", "CmdRd", "VsLo", "TextLo",
                                  "TextStop", "VsStop", "TextHi", "VsHi", "CmdTest", "CmdVersion"};
    const QStringList chain = probe::tabChain(c("OptCom1"), expected);
    QCOMPARE(chain, expected);
}

void TestLevelWindow::windowFrame()
{
    QCOMPARE(window->windowTitle(), QString("時間參數設定"));
    QCOMPARE(window->size(), QSize(436, 510));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(!window->windowIcon().isNull());

    // It opens in the middle of the screen, frame and all.
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTRY_VERIFY2(probe::centredOnScreen(window),
                 qPrintable(QStringLiteral("frame at %1,%2 %3x%4")
                                .arg(window->frameGeometry().x()).arg(window->frameGeometry().y())
                                .arg(window->frameGeometry().width()).arg(window->frameGeometry().height())));
}

void TestLevelWindow::startState()
{
    QCOMPARE(values(), (QList<int>{10, 2, 10}));
    QCOMPARE(texts(), (QStringList{"10", "2", "10"}));
    QVERIFY(c<QRadioButton>("OptCom1")->isChecked());
    QVERIFY(c<QLabel>("LblVersion")->text().isEmpty());
    serial->written.clear();
    window->CmdWr_Click();
    QCOMPARE(serial->written, (QList<QByteArray>{hex("02055a0a020a05")}));
}

void TestLevelWindow::receiveLogStartsShown()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(c("TextRec")->isVisible());
    QVERIFY(c("CmdClear")->isHidden());
    // A plain press on the window's surface hides the log.
    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(400, 240));
    QVERIFY(c("TextRec")->isHidden());
    QTest::mouseClick(window, Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 240));
    QVERIFY(c("TextRec")->isVisible());
    QVERIFY(c("CmdClear")->isVisible());
}

void TestLevelWindow::timeEntry()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));
    enter("TextStop", "", false);
    QCOMPARE(values()[1], 2);
    QCOMPARE(c<QLineEdit>("TextStop")->text(), QString());
    enter("TextStop", "25", true);
    QCOMPARE(values()[1], 25);

    enter("TextHi", "30", true);
    QCOMPARE(values()[0], 30);
    enter("TextHi", "300", true);
    QCOMPARE(values()[0], 30);
    QCOMPARE(c<QLineEdit>("TextHi")->text(), QString("300"));
    serial->written.clear();
    window->CmdWr_Click();
    QCOMPARE(quint8(serial->written.value(0).at(3)), quint8(30));

    enter("TextLo", "-5", false);
    QCOMPARE(values()[2], 10);
    QCOMPARE(c<QLineEdit>("TextLo")->text(), QString("-5"));
    enter("TextLo", "7", false);
    QCOMPARE(values()[2], 7);
    QCOMPARE(c<QLineEdit>("TextLo")->text(), QString("7"));
    enter("TextLo", "1234", false);
    QCOMPARE(c<QLineEdit>("TextLo")->text(), QString("123"));

    // Text set by code is a change as well: the bar follows.
    c<QLineEdit>("TextLo")->setText("12");
    QCOMPARE(values()[2], 12);
}

void TestLevelWindow::upArrowRaises()
{
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QScrollBar *bar = probe::innerBar(c<VScrollBar>("VsHi"));
    QTest::mouseClick(bar, Qt::LeftButton, {}, probe::arrow(bar, true));
    QCOMPARE(values()[0], 11);
    QCOMPARE(texts()[0], QString("11"));
}

void TestLevelWindow::writeSendsTheBars()
{
    c<VScrollBar>("VsHi")->setValue(255);
    c<VScrollBar>("VsStop")->setValue(0);
    c<VScrollBar>("VsLo")->setValue(255);
    serial->written.clear();
    window->CmdWr_Click();
    QCOMPARE(serial->written, (QList<QByteArray>{hex("02055aff00ff07")}));
}

void TestLevelWindow::reply_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("whole") << hex("03055a14051e09") << QList<int>{20, 5, 30} << QStringList{"20", "5", "30"};
    QTest::newRow("bytes 1 and 2 anything") << hex("030000 14051e") << QList<int>{20, 5, 30} << QStringList{"20", "5", "30"};
    QTest::newRow("wrong check, more after") << hex("03055a14051e7701") << QList<int>{20, 5, 30} << QStringList{"20", "5", "30"};
    QTest::newRow("same values keep a refused entry") << hex("03055a0a020a05") << QList<int>{10, 2, 10} << QStringList{"300", "2", "10"};
    QTest::newRow("starts with 2") << hex("02055a14051e09") << QList<int>{10, 2, 10} << QStringList{"300", "2", "10"};
    QTest::newRow("short") << hex("03055a1405") << QList<int>{10, 2, 10} << QStringList{"300", "2", "10"};
}

void TestLevelWindow::reply()
{
    QFETCH(QByteArray, block);
    QFETCH(QList<int>, values);
    QFETCH(QStringList, texts);
    enter("TextHi", "300", true);
    serial->receive(block);
    QTRY_VERIFY_WITH_TIMEOUT(serial->buffer.isEmpty(), probe::Patience);
    QCOMPARE(this->values(), values);
    QCOMPARE(this->texts(), texts);
}

#ifdef OMBRIX_HAVE_PTY
void TestLevelWindow::roundTripThroughSetter()
{
    cleanup();
    PseudoTerminal setter;
    QVERIFY2(setter.isValid(), qPrintable(setter.errorString()));
    const QString path = setter.slavePath();
    auto control = std::make_unique<QtSerialControl>([path](int n) { return n == 3 ? path : QString(); });
    const QtSerialControl *port = control.get();
    window = new FrmOmbrixLevel(std::move(control));
    window->Form_Load();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(c("OptCom3")->isEnabled());
    QVERIFY(!c("OptCom4")->isEnabled());
    QTest::mouseClick(c("OptCom3"), Qt::LeftButton, {}, QPoint(8, 12));
    QVERIFY(port->PortOpen());

    enter("TextHi", "42", true);
    enter("TextStop", "0", true);
    enter("TextLo", "199", true);
    QTest::mouseClick(c("CmdWr"), Qt::LeftButton);
    QByteArray stored = setter.readMaster(7);
    QCOMPARE(stored, hex("02055a2a00c7ea"));

    enter("TextHi", "1", true);
    enter("TextLo", "2", true);
    QTest::mouseClick(c("CmdRd"), Qt::LeftButton);
    QCOMPARE(setter.readMaster(5), hex("03035a0000"));
    stored[0] = 3;
    QVERIFY(setter.write(stored));
    QTRY_COMPARE_WITH_TIMEOUT(values(), (QList<int>{42, 0, 199}), probe::Patience);
    QCOMPARE(texts(), (QStringList{"42", "0", "199"}));
}
#endif

QTEST_MAIN(TestLevelWindow)
#include "tst_levelwindow.moc"
