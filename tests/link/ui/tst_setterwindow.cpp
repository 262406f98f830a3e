#include "boxwatcher.h"
#include "bytes.h"
#include "controls.h"
#include "fakeserial.h"
#include "loop.h"
#include "patience.h"
#ifdef OMBRIX_HAVE_PTY
#include "pty.h"
#endif
#include "qtserialcontrol.h"
#include "setterwindow.h"
#include "widgetprobe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <memory>

using namespace ombrix;
using probe::BoxWatcher;
using probe::bytes;
using probe::Patience;
using probe::runUntil;
using probe::ShownBox;

namespace {

const QString Title = QStringLiteral("設定器連線 V1.3");

// The quiet on the line that ends a reply. A tick is never due sooner; the
// bound takes a millisecond off for the clocks' rounding.
constexpr qint64 QuietGap = 110; // ms
constexpr qint64 EarliestTickNs = (QuietGap - 1) * 1000000;

QString afterMs(qint64 ns)
{
    return QStringLiteral("ticked %1 ms after the last byte").arg(double(ns) / 1e6, 0, 'f', 3);
}

const QByteArray VersionFrame = bytes({0x00, 0x03, 0x5A, 0x00, 0x03});
const QByteArray TestFrame = bytes({0x01, 0x03, 0x5A, 0x00, 0x02});
const QByteArray ReadFrame = bytes({0x03, 0x03, 0x5A, 0x00, 0x00});
// What the test window's write button sends: any 7 bytes will do.
const QByteArray WriteFrame = bytes({0x02, 0x05, 0x5A, 0x11, 0x22, 0x33, 0x07});

// Just the controls every setter window carries, clear of the left margin so
// a press at x = 5 px lands on the window itself.
Design linkDesign()
{
    Design d;
    d << label("LblVersion").at(3000, 240).size(3255, 495).bordered()
      << button("CmdVersion").at(600, 900).size(1095, 975).text("讀取版本")
      << button("CmdWr").at(1800, 900).size(1095, 975).text("寫入")
      << button("CmdRd").at(3000, 900).size(1095, 975).text("讀取")
      << button("CmdTest").at(4200, 900).size(1095, 975).text("紅外線測試")
      << button("CmdClear").at(5400, 900).size(1095, 855).text("Clear").hidden()
      << frame("FamCOM").at(600, 2040).size(9015, 975).text("Com Port");
    for (int n = 1; n <= 8; ++n)
        d << option(QStringLiteral("OptCom%1").arg(n))
                 .in("FamCOM")
                 .at(120 + 1080 * (n - 1), 360)
                 .size(975, 375)
                 .text(QStringLiteral("COM%1").arg(n));
    d << multiText("TextRec").at(600, 3120).size(9015, 615).hidden();
    return d;
}

class LinkWindow : public SetterWindow
{
public:
    explicit LinkWindow(std::unique_ptr<SerialControl> serial)
        : SetterWindow(Title, linkDesign(), std::move(serial))
    {
        resize(680, 280);
    }

    void CmdWr_Click() override { sendFrame(WriteFrame); }

    Timer *rx() const { return TmrRx; }

    QList<QByteArray> blocks; // every block parameterReply got

protected:
    void parameterReply(const QByteArray &block) override { blocks << block; }
};

void addCommandRows()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("clearsVersion");

    QTest::newRow("version") << "CmdVersion" << VersionFrame << true;
    QTest::newRow("ir test") << "CmdTest" << TestFrame << false;
    QTest::newRow("read") << "CmdRd" << ReadFrame << false;
    QTest::newRow("write") << "CmdWr" << WriteFrame << false;
}

} // namespace

class TestSetterWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    // Logic, on the fake control.
    void commandIsOneOutput_data();
    void commandIsOneOutput();
    void quickPressesEachSendAFrame();
    void pressKeepsWaitingBytes_data();
    void pressKeepsWaitingBytes();
    void pressWithNoPortTellsOperator_data();
    void pressWithNoPortTellsOperator();
    void gapTimerIdleUntilFirstReceive();
    void receiveRestartsGap();
    void versionReply_data();
    void versionReply();
    void dispatchOnFirstByte_data();
    void dispatchOnFirstByte();
    void overflowBoxChangesNothingElse();
    void overflowFloodShowsOneBox();
    void emptyTickDoesNothing_data();
    void emptyTickDoesNothing();

    // Receive log.
    void mouseDown_data();
    void mouseDown();
    void shiftPressOnSurfaceRevealsLog();
    void pressOnControlChangesNothing_data();
    void pressOnControlChangesNothing();
    void logTextSurvivesHideAndClears();

#ifdef OMBRIX_HAVE_PTY
    // On a real port.
    void commandOnPort_data();
    void commandOnPort();
    void quickPressesOnPort();
    void pressKeepsWaitingBytesOnPort_data();
    void pressKeepsWaitingBytesOnPort();
    void replyCutting_data();
    void replyCutting();
    void overflowOnPortShowsOneBox();
    void streamPastFullBufferIsOneBlock();
#endif

private:
    std::unique_ptr<BoxWatcher> boxes;
#ifdef OMBRIX_HAVE_PTY
    std::unique_ptr<PseudoTerminal> pty;
#endif
    LinkWindow *window = nullptr;
    FakeSerial *fake = nullptr;
    QtSerialControl *port = nullptr;
    std::unique_ptr<QSignalSpy> ticks; // of the window's gap timer

    void show()
    {
        ticks = std::make_unique<QSignalSpy>(window->rx(), &Timer::Tick);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
    }
    // A window on the fake control, COM1 open when asked.
    void onFake(bool open = true)
    {
        auto control = std::make_unique<FakeSerial>();
        control->present = {1};
        fake = control.get();
        window = new LinkWindow(std::move(control));
        show();
        if (open) {
            window->OptCom1_Click();
            QVERIFY(fake->isOpen());
        }
        fake->log.clear();
        label()->setText("old");
    }
#ifdef OMBRIX_HAVE_PTY
    // A window whose COM1 is a pseudo-terminal, opened through the option;
    // callers stop should it fail.
    void onPort(int inBufferSize = QtSerialControl::DefaultInBufferSize)
    {
        pty = std::make_unique<PseudoTerminal>();
        QVERIFY2(pty->isValid(), qPrintable(pty->errorString()));
        const QString path = pty->slavePath();
        auto control = std::make_unique<QtSerialControl>([path](int n) { return n == 1 ? path : QString(); });
        control->setInBufferSize(inBufferSize);
        port = control.get();
        window = new LinkWindow(std::move(control));
        show();
        if (QTest::currentTestFailed())
            return;
        window->OptCom1_Click();
        QVERIFY2(port->PortOpen(), qPrintable("COM1 did not open; boxes: " + boxes->texts.join(" | ")));
        QVERIFY(boxes->shown.isEmpty());
        label()->setText("old");
    }
#endif
    template <typename T = QWidget> T *c(const QString &key) const { return probe::control<T>(window, key); }
    QLabel *label() const { return c<QLabel>("LblVersion"); }
    bool logShown() const { return !c("TextRec")->isHidden(); }
    void press(const QString &button) { QTest::mouseClick(c(button), Qt::LeftButton); }
    // As the operator clicks: through the window, where a modal box blocks it.
    void pressOnScreen(const QString &button)
    {
        QWidget *b = c(button);
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, b->mapTo(window, b->rect().center()));
    }
    // Runs the event loop until the gap timer has ticked `count` times in
    // all. The loop waits for events, so a tick is taken when it is due.
    bool waitForTick(int count)
    {
        while (ticks->count() < count) {
            if (!ticks->wait(Patience))
                return false;
        }
        return true;
    }
};

void TestSetterWindow::init()
{
    boxes = std::make_unique<BoxWatcher>();
}

void TestSetterWindow::cleanup()
{
    ticks.reset();
    delete window;
    window = nullptr;
    fake = nullptr;
    port = nullptr;
#ifdef OMBRIX_HAVE_PTY
    pty.reset();
#endif
    boxes.reset();
}

void TestSetterWindow::commandIsOneOutput_data()
{
    addCommandRows();
}

void TestSetterWindow::commandIsOneOutput()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, frame);
    QFETCH(bool, clearsVersion);
    onFake();
    press(button);
    QCOMPARE(fake->written, QList<QByteArray>{frame});
    QCOMPARE(label()->text(), clearsVersion ? QString() : QString("old"));
    QVERIFY(boxes->shown.isEmpty());
    QVERIFY(!window->rx()->isCounting());
}

void TestSetterWindow::quickPressesEachSendAFrame()
{
    onFake();
    // No reply comes in between: each press still sends at once.
    for (const char *b : {"CmdVersion", "CmdVersion", "CmdTest", "CmdRd", "CmdWr", "CmdRd"})
        press(b);
    QCOMPARE(fake->written,
             (QList<QByteArray>{VersionFrame, VersionFrame, TestFrame, ReadFrame, WriteFrame, ReadFrame}));
    QVERIFY(boxes->shown.isEmpty());
}

void TestSetterWindow::pressKeepsWaitingBytes_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QList<QByteArray>>("blocks");

    QTest::newRow("version press mid reply") << "CmdVersion" << QByteArray("\x00" "V1", 3) << QByteArray(".3")
                                             << "V1.3" << QList<QByteArray>{};
    QTest::newRow("read press mid reply") << "CmdRd" << bytes({0x03, 0x0C}) << bytes({0x5A, 0x05, 0x14})
                                          << "old" << QList<QByteArray>{bytes({0x03, 0x0C, 0x5A, 0x05, 0x14})};
    QTest::newRow("test press, all waiting") << "CmdTest" << QByteArray("\x00" "V2", 3) << QByteArray()
                                             << "V2" << QList<QByteArray>{};
    QTest::newRow("write press, all waiting") << "CmdWr" << bytes({0x03, 0x01}) << QByteArray()
                                              << "old" << QList<QByteArray>{bytes({0x03, 0x01})};
}

void TestSetterWindow::pressKeepsWaitingBytes()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(QString, version);
    QFETCH(QList<QByteArray>, blocks);
    onFake();
    // No event loop runs between these, so all of it is one reply.
    fake->receive(before);
    press(button);
    QCOMPARE(fake->InBufferCount(), int(before.size()));
    if (!after.isEmpty())
        fake->receive(after);
    QVERIFY(waitForTick(1));
    QCOMPARE(ticks->count(), 1);
    QCOMPARE(label()->text(), version);
    QCOMPARE(window->blocks, blocks);
    QCOMPARE(fake->written.size(), 1);
}

void TestSetterWindow::pressWithNoPortTellsOperator_data()
{
    addCommandRows();
}

void TestSetterWindow::pressWithNoPortTellsOperator()
{
    QFETCH(QString, button);
    QFETCH(bool, clearsVersion);
    onFake(false);
    // The window takes no press while the box stands, so no second box.
    boxes->whileFirstOpen = [this, button] { pressOnScreen(button); };
    press(button);

    QCOMPARE(boxes->shown.size(), 1);
    const ShownBox box = boxes->shown.first();
    QCOMPARE(box.title, Title);
    QVERIFY2(box.text.contains("未開啟") && box.text.contains("COM Port"), qPrintable(box.text));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    QVERIFY(fake->written.isEmpty());
    QVERIFY(fake->log.isEmpty()); // no attempt to open a port behind the operator's back
    QVERIFY(!fake->isOpen());
    QCOMPARE(label()->text(), clearsVersion ? QString() : QString("old"));
    QVERIFY(!window->rx()->isCounting());
    QVERIFY(!logShown());
    QVERIFY(c("CmdClear")->isHidden());
    QVERIFY(window->blocks.isEmpty());
}

void TestSetterWindow::gapTimerIdleUntilFirstReceive()
{
    onFake();
    // Events other than a receive leave the timer alone.
    for (int event : {0, 1, 3, 1001, 1009, int(ComEvRxOver)})
        fake->raise(event);
    QCOMPARE(boxes->shown.size(), 1); // the overflow's box, answered
    QVERIFY(!window->rx()->isCounting());
    QVERIFY(!ticks->wait(400));

    // A receive sets the gap afresh over whatever the timer held: the tick
    // comes the gap after it, not a minute later.
    window->rx()->setInterval(60000);
    window->rx()->setEnabled(false);
    QElapsedTimer sinceReceive;
    sinceReceive.start();
    fake->receive(QByteArray(1, '\x00'));
    QVERIFY(waitForTick(1));
    const qint64 waited = sinceReceive.nsecsElapsed();
    QVERIFY2(waited >= EarliestTickNs, qPrintable(afterMs(waited)));
    QVERIFY(!window->rx()->Enabled());
    QVERIFY(!window->rx()->isCounting());
}

void TestSetterWindow::receiveRestartsGap()
{
    onFake();
    QElapsedTimer sinceSecond;
    QObject scope;
    fake->receive(bytes({0x03, 0x01}));
    // Timers fire in order of their due time, so on a late loop this still
    // comes before the tick due 110 ms after the first chunk.
    QTimer::singleShot(50, &scope, [&] {
        fake->receive(bytes({0x02}));
        sinceSecond.start();
    });
    QVERIFY(waitForTick(1));
    QVERIFY(sinceSecond.isValid());
    const qint64 waited = sinceSecond.nsecsElapsed();
    QVERIFY2(waited >= EarliestTickNs, qPrintable(afterMs(waited)));
    QCOMPARE(window->blocks, QList<QByteArray>{bytes({0x03, 0x01, 0x02})});
    QCOMPARE(ticks->count(), 1);
    QVERIFY(!window->rx()->isCounting());
}

void TestSetterWindow::versionReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("shown");

    QByteArray every(1, '\x00');
    QString everyText;
    for (int v = 1; v < 256; ++v) {
        every.append(char(v));
        everyText.append(QChar(v));
    }

    QTest::newRow("op alone empties") << bytes({0x00}) << QString();
    QTest::newRow("ABC") << bytes({0x00, 0x41, 0x42, 0x43}) << "ABC";
    QTest::newRow("spaces kept") << QByteArray("\x00 V1.3 ", 7) << " V1.3 ";
    QTest::newRow("line end kept") << QByteArray("\x00V1\r\n", 5) << "V1\r\n";
    QTest::newRow("NUL kept") << bytes({0x00, 0x56, 0x00, 0x31}) << QString::fromLatin1("V\0" "1", 3);
    QTest::newRow("leading op byte kept") << bytes({0x00, 0x00}) << QString(1, QChar(0));
    QTest::newRow("high bytes one char each") << bytes({0x00, 0xE9, 0xFF}) << QString("\u00E9\u00FF");
    QTest::newRow("UTF-8 pair not joined") << bytes({0x00, 0xC3, 0xA9}) << QString("\u00C3\u00A9");
    QTest::newRow("markup shown as is") << QByteArray("\x00<b>V1</b>&amp;", 15) << "<b>V1</b>&amp;";
    QTest::newRow("every byte value") << every << everyText;
}

void TestSetterWindow::versionReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, shown);
    onFake();
    fake->receive(reply);
    QVERIFY(waitForTick(1));
    QCOMPARE(label()->text(), shown);
    QCOMPARE(label()->text().size(), reply.size() - 1);
    QVERIFY(window->blocks.isEmpty());
    QCOMPARE(fake->InBufferCount(), 0);

    // The next version reply replaces it.
    fake->receive(QByteArray("\x00" "V2", 3));
    QVERIFY(waitForTick(2));
    QCOMPARE(label()->text(), QString("V2"));
}

void TestSetterWindow::dispatchOnFirstByte_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("toParameters");

    QTest::newRow("0 version") << bytes({0x00, 0x41, 0x42}) << "AB" << false;
    QTest::newRow("1 ir test dropped") << bytes({0x01, 0x41, 0x42}) << "old" << false;
    QTest::newRow("2 write dropped") << bytes({0x02, 0x41, 0x42}) << "old" << false;
    QTest::newRow("3 read") << bytes({0x03, 0x0C, 0x5A, 0x05, 0x14, 0x00, 0x41}) << "old" << true;
    QTest::newRow("3 alone") << bytes({0x03}) << "old" << true;
    QTest::newRow("3 carrying 0") << bytes({0x03, 0x00, 0x41}) << "old" << true;
    QTest::newRow("4 dropped") << bytes({0x04, 0x41, 0x42}) << "old" << false;
    QTest::newRow("FF dropped") << bytes({0xFF, 0x41, 0x42}) << "old" << false;
    QTest::newRow("1 carrying 0 and 3") << bytes({0x01, 0x00, 0x03, 0x41}) << "old" << false;
}

void TestSetterWindow::dispatchOnFirstByte()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, version);
    QFETCH(bool, toParameters);
    onFake();
    fake->receive(reply);
    QVERIFY(waitForTick(1));
    QCOMPARE(label()->text(), version);
    QCOMPARE(window->blocks, toParameters ? QList<QByteArray>{reply} : QList<QByteArray>{});
    QCOMPARE(fake->InBufferCount(), 0); // a dropped reply is gone too
    QVERIFY(fake->written.isEmpty());
    QVERIFY(boxes->shown.isEmpty());

    // Nothing of it leaks into the next reply.
    fake->receive(bytes({0x03, 0x7E}));
    QVERIFY(waitForTick(2));
    QCOMPARE(window->blocks.last(), bytes({0x03, 0x7E}));
}

void TestSetterWindow::overflowBoxChangesNothingElse()
{
    onFake();
    // The window takes no press while the box stands.
    boxes->whileFirstOpen = [this] { pressOnScreen("CmdVersion"); };
    fake->raise(ComEvRxOver);

    QCOMPARE(boxes->shown.size(), 1);
    const ShownBox box = boxes->shown.first();
    QCOMPARE(box.title, Title);
    QCOMPARE(box.text, QString("資料接收區超過"));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    QCOMPARE(label()->text(), QString("old"));
    QVERIFY(!window->rx()->isCounting());
    QVERIFY(fake->isOpen());
    QVERIFY(fake->log.isEmpty());
    QVERIFY(fake->written.isEmpty());
    QVERIFY(window->blocks.isEmpty());
    QVERIFY(!logShown());
}

void TestSetterWindow::overflowFloodShowsOneBox()
{
    onFake();
    bool tickedWhileOpen = false;
    boxes->whileFirstOpen = [&] {
        for (int i = 0; i < 20; ++i)
            fake->raise(ComEvRxOver);
        fake->receive(QByteArray("\x00" "AB", 3));
        fake->raise(ComEvRxOver);
        tickedWhileOpen = QTest::qWaitFor([&] { return label()->text() == "AB"; }, Patience);
        fake->raise(ComEvRxOver);
    };
    fake->raise(ComEvRxOver);

    QVERIFY(tickedWhileOpen);
    QCOMPARE(boxes->shown.size(), 1);
    QCOMPARE(ticks->count(), 1);

    // Once that box is closed, the next overflow is told again.
    boxes->whileFirstOpen = nullptr;
    fake->raise(ComEvRxOver);
    QCOMPARE(boxes->shown.size(), 2);
}

void TestSetterWindow::emptyTickDoesNothing_data()
{
    QTest::addColumn<bool>("switchPort");

    QTest::newRow("port switched meanwhile") << true;
    QTest::newRow("port closed meanwhile") << false;
}

void TestSetterWindow::emptyTickDoesNothing()
{
    QFETCH(bool, switchPort);
    onFake();
    fake->receive(QByteArray("\x00" "V1", 3));
    if (switchPort) {
        window->OptCom1_Click();
        QVERIFY(fake->isOpen());
    } else {
        fake->setPortOpen(false);
    }
    QVERIFY(waitForTick(1));
    QCOMPARE(label()->text(), QString("old"));
    QVERIFY(window->blocks.isEmpty());
    QVERIFY(boxes->shown.isEmpty());
    QVERIFY(!window->rx()->isCounting());

    // A tick with nothing at all waiting, called straight.
    window->TmrRx_Timer();
    QCOMPARE(label()->text(), QString("old"));
    QVERIFY(window->blocks.isEmpty());
}

void TestSetterWindow::mouseDown_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("shift");
    QTest::addColumn<float>("x");
    QTest::addColumn<bool>("shownBefore");
    QTest::addColumn<bool>("shown");

    QTest::newRow("shift, x 199") << 1 << 1 << 199.0f << false << true;
    QTest::newRow("shift, x 199, right button") << 2 << 1 << 199.0f << false << true;
    QTest::newRow("shift, x 199, middle button") << 4 << 1 << 199.0f << false << true;
    QTest::newRow("shift, x 199.9") << 1 << 1 << 199.9f << false << true;
    QTest::newRow("shift, x 0") << 1 << 1 << 0.0f << false << true;
    QTest::newRow("shift, x 199, already shown") << 1 << 1 << 199.0f << true << true;
    QTest::newRow("shift, x 200") << 1 << 1 << 200.0f << true << false;
    QTest::newRow("shift, x 200, hidden") << 1 << 1 << 200.0f << false << false;
    QTest::newRow("shift, far right") << 1 << 1 << 9000.0f << true << false;
    QTest::newRow("shift+ctrl") << 1 << 3 << 15.0f << true << false;
    QTest::newRow("shift+alt") << 1 << 5 << 15.0f << true << false;
    QTest::newRow("shift+ctrl+alt") << 1 << 7 << 15.0f << true << false;
    QTest::newRow("ctrl alone") << 1 << 2 << 15.0f << true << false;
    QTest::newRow("no key") << 1 << 0 << 15.0f << true << false;
    QTest::newRow("no key, right button") << 2 << 0 << 15.0f << true << false;
}

void TestSetterWindow::mouseDown()
{
    QFETCH(int, button);
    QFETCH(int, shift);
    QFETCH(float, x);
    QFETCH(bool, shownBefore);
    QFETCH(bool, shown);
    onFake();
    window->Form_MouseDown(1, 1, 0, 0);
    if (!shownBefore)
        window->Form_MouseDown(1, 0, 0, 0);
    QCOMPARE(logShown(), shownBefore);

    window->Form_MouseDown(button, shift, x, 3000);
    QCOMPARE(logShown(), shown);
    QCOMPARE(!c("CmdClear")->isHidden(), shown);
}

void TestSetterWindow::shiftPressOnSurfaceRevealsLog()
{
    onFake();
    QSignalSpy down(window, &SetterWindow::MouseDown);
    const QPoint margin(5, 150);
    QTest::mousePress(window, Qt::LeftButton, Qt::ShiftModifier, margin);
    QTest::mouseRelease(window, Qt::LeftButton, Qt::ShiftModifier, margin);
    QCOMPARE(down.count(), 1);
    QCOMPARE(down.first().at(1).toInt(), 1);
    QCOMPARE(down.first().at(2).toFloat(), 75.0f);
    QVERIFY(logShown());
    QVERIFY(c("TextRec")->isVisible());
    QVERIFY(c("CmdClear")->isVisible());

    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, margin);
    QVERIFY(!logShown());
    QVERIFY(c("CmdClear")->isHidden());
}

void TestSetterWindow::pressOnControlChangesNothing_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("shown");

    const int shift = int(Qt::ShiftModifier);
    const int none = int(Qt::NoModifier);
    QTest::newRow("shift on version label") << "LblVersion" << shift << false;
    QTest::newRow("plain on version label") << "LblVersion" << none << true;
    QTest::newRow("shift on port frame") << "FamCOM" << shift << false;
    QTest::newRow("plain on port frame") << "FamCOM" << none << true;
    QTest::newRow("plain in the log") << "TextRec" << none << true;
    QTest::newRow("shift on a port option") << "OptCom3" << shift << false;
    QTest::newRow("plain on a button") << "CmdTest" << none << true;
}

void TestSetterWindow::pressOnControlChangesNothing()
{
    QFETCH(QString, target);
    QFETCH(int, modifiers);
    QFETCH(bool, shown);
    onFake(false);
    window->Form_MouseDown(1, shown ? 1 : 0, 0, 0);
    QCOMPARE(logShown(), shown);

    QSignalSpy down(window, &SetterWindow::MouseDown);
    QWidget *w = c(target);
    // Near the lower left corner, where no child of the frame stands. A
    // press alone: a release on a button would send its frame.
    QTest::mousePress(w, Qt::LeftButton, Qt::KeyboardModifiers(modifiers), QPoint(3, w->height() - 3));
    QCOMPARE(down.count(), 0);
    QCOMPARE(logShown(), shown);
    QCOMPARE(!c("CmdClear")->isHidden(), shown);
}

void TestSetterWindow::logTextSurvivesHideAndClears()
{
    onFake();
    auto *log = c<QPlainTextEdit>("TextRec");
    window->Form_MouseDown(1, 1, 10, 10);
    window->activateWindow();
    log->setFocus();
    QTest::keyClicks(log, "rx 01 02");
    QCOMPARE(log->toPlainText(), QString("rx 01 02"));

    window->Form_MouseDown(1, 0, 10, 10);
    QVERIFY(!logShown());
    window->Form_MouseDown(2, 1, 10, 10);
    QVERIFY(logShown());
    QCOMPARE(log->toPlainText(), QString("rx 01 02"));

    press("CmdClear");
    QCOMPARE(log->toPlainText(), QString());
    press("CmdClear");
    QCOMPARE(log->toPlainText(), QString());
    QVERIFY(logShown());
    QVERIFY(fake->written.isEmpty());
}

#ifdef OMBRIX_HAVE_PTY
void TestSetterWindow::commandOnPort_data()
{
    addCommandRows();
}

void TestSetterWindow::commandOnPort()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, frame);
    QFETCH(bool, clearsVersion);
    onPort();
    if (QTest::currentTestFailed())
        return;
    press(button);
    QCOMPARE(pty->readMaster(int(frame.size()), Patience), frame);
    QCOMPARE(pty->lastReadChunks(), QList<int>{int(frame.size())});
    QCOMPARE(label()->text(), clearsVersion ? QString() : QString("old"));
    QVERIFY(boxes->shown.isEmpty());
}

void TestSetterWindow::quickPressesOnPort()
{
    onPort();
    if (QTest::currentTestFailed())
        return;
    QByteArray expected;
    const QList<QPair<const char *, QByteArray>> presses = {
        {"CmdVersion", VersionFrame}, {"CmdTest", TestFrame}, {"CmdRd", ReadFrame},
        {"CmdWr", WriteFrame},        {"CmdVersion", VersionFrame},
    };
    for (const auto &p : presses) {
        press(p.first);
        expected += p.second;
    }
    QCOMPARE(pty->readMaster(int(expected.size()), Patience), expected);
    QVERIFY(boxes->shown.isEmpty());
}

void TestSetterWindow::pressKeepsWaitingBytesOnPort_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("waiting");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QList<QByteArray>>("blocks");

    QTest::newRow("version") << "CmdVersion" << VersionFrame << QByteArray("\x00" "V1.3", 5) << "V1.3"
                             << QList<QByteArray>{};
    QTest::newRow("read") << "CmdRd" << ReadFrame << bytes({0x03, 0x0C, 0x5A, 0x05}) << "old"
                          << QList<QByteArray>{bytes({0x03, 0x0C, 0x5A, 0x05})};
    QTest::newRow("ir test") << "CmdTest" << TestFrame << QByteArray("\x00" "V2", 3) << "V2"
                             << QList<QByteArray>{};
}

void TestSetterWindow::pressKeepsWaitingBytesOnPort()
{
    QFETCH(QString, button);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, waiting);
    QFETCH(QString, version);
    QFETCH(QList<QByteArray>, blocks);
    onPort();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(pty->write(waiting));
    // Polled every 10 ms or so, well inside the 110 ms before the tick.
    QVERIFY(QTest::qWaitFor([&] { return port->InBufferCount() == waiting.size(); }, Patience));
    QCOMPARE(ticks->count(), 0);
    press(button);
    QCOMPARE(port->InBufferCount(), int(waiting.size()));
    QCOMPARE(pty->readMaster(int(frame.size()), Patience), frame);

    QVERIFY(waitForTick(1));
    QCOMPARE(ticks->count(), 1);
    QCOMPARE(label()->text(), version);
    QCOMPARE(window->blocks, blocks);
}

void TestSetterWindow::replyCutting_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<int>>("gaps"); // ms before each chunk after the first
    QTest::addColumn<QString>("version");
    QTest::addColumn<QList<QByteArray>>("blocks");

    const QByteArray v("\x00", 1);
    QTest::newRow("close chunks, one read reply")
        << QList<QByteArray>{bytes({0x03, 0x0C, 0x5A}), bytes({0x05, 0x14}), bytes({0x08, 0x1E, 0x00})}
        << QList<int>{20, 20} << "old"
        << QList<QByteArray>{bytes({0x03, 0x0C, 0x5A, 0x05, 0x14, 0x08, 0x1E, 0x00})};
    QTest::newRow("close chunks, one version reply")
        << QList<QByteArray>{v + "V", "1.", "3"} << QList<int>{20, 20} << "V1.3" << QList<QByteArray>{};
    QTest::newRow("pause splits version from read")
        << QList<QByteArray>{v + "V1", bytes({0x03, 0xAA, 0xBB})} << QList<int>{400} << "V1"
        << QList<QByteArray>{bytes({0x03, 0xAA, 0xBB})};
    QTest::newRow("pause splits read from version")
        << QList<QByteArray>{bytes({0x03, 0xAA}), v + "A"} << QList<int>{400} << "A"
        << QList<QByteArray>{bytes({0x03, 0xAA})};
    QTest::newRow("pause, second part dropped on its own byte")
        << QList<QByteArray>{bytes({0x03, 0x01, 0x02}), bytes({0x01, 0x5A})} << QList<int>{400} << "old"
        << QList<QByteArray>{bytes({0x03, 0x01, 0x02})};
    QTest::newRow("pause, two read replies")
        << QList<QByteArray>{bytes({0x03, 0x01}), bytes({0x02}), bytes({0x03, 0x04})} << QList<int>{20, 400}
        << "old" << QList<QByteArray>{bytes({0x03, 0x01, 0x02}), bytes({0x03, 0x04})};
}

void TestSetterWindow::replyCutting()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<int>, gaps);
    QFETCH(QString, version);
    QFETCH(QList<QByteArray>, blocks);
    onPort();
    if (QTest::currentTestFailed())
        return;

    QElapsedTimer clock;
    clock.start();
    QList<qint64> writtenAt;
    QList<qint64> tickedAt;
    bool writeFailed = false;
    std::function<void(int)> writeChunk;
    QObject scope; // goes first, taking its timers and connections along
    connect(window->rx(), &Timer::Tick, &scope, [&] { tickedAt << clock.nsecsElapsed(); });

    // Each chunk is written from a timer the given gap after the one before.
    writeChunk = [&](int i) {
        writeFailed |= !pty->write(chunks.at(i));
        writtenAt << clock.nsecsElapsed();
        if (i + 1 < chunks.size())
            QTimer::singleShot(gaps.at(i), &scope, [&writeChunk, i] { writeChunk(i + 1); });
    };
    writeChunk(0);

    // Where the line goes quiet for longer than the gap, a reply ends.
    QList<int> lastOfReply;
    for (int i = 0; i < chunks.size(); ++i)
        if (i + 1 == chunks.size() || gaps.at(i) > QuietGap)
            lastOfReply << i;

    QVERIFY(runUntil(
        [&] {
            return writtenAt.size() == chunks.size() && tickedAt.size() >= lastOfReply.size()
                && !window->rx()->isCounting() && port->InBufferCount() == 0;
        },
        Patience));
    QVERIFY(!writeFailed);
    QCOMPARE(tickedAt.size(), lastOfReply.size());
    QCOMPARE(label()->text(), version);
    QCOMPARE(window->blocks, blocks);
    for (int r = 0; r < lastOfReply.size(); ++r) {
        const int last = lastOfReply.at(r);
        // Handled once the line has been quiet, and before the next reply began.
        const qint64 waited = tickedAt.at(r) - writtenAt.at(last);
        QVERIFY2(waited >= EarliestTickNs, qPrintable(QString("reply %1 %2").arg(r).arg(afterMs(waited))));
        if (last + 1 < chunks.size())
            QVERIFY(tickedAt.at(r) < writtenAt.at(last + 1));
    }
}

void TestSetterWindow::overflowOnPortShowsOneBox()
{
    onPort(8);
    if (QTest::currentTestFailed())
        return;
    QByteArray flood(1, '\x03');
    for (int i = 1; i < 20; ++i)
        flood.append(char(0x40 + i));

    bool firstTaken = false;
    bool secondTaken = false;
    boxes->whileFirstOpen = [&] {
        // The tick still runs under the box and makes room again.
        firstTaken = QTest::qWaitFor([&] { return window->blocks.size() == 1; }, Patience);
        // Another flood overflows again while the box stands.
        if (pty->write(flood))
            secondTaken = QTest::qWaitFor([&] { return window->blocks.size() == 2; }, Patience);
    };
    QVERIFY(pty->write(flood));
    QVERIFY(QTest::qWaitFor([&] { return !boxes->shown.isEmpty() && !QApplication::activeModalWidget(); },
                            Patience));
    QVERIFY(firstTaken);
    QVERIFY(secondTaken);
    QCOMPARE(boxes->shown.size(), 1);
    QCOMPARE(boxes->shown.first().text, QString("資料接收區超過"));
    QCOMPARE(boxes->shown.first().title, Title);
    QCOMPARE(window->blocks, (QList<QByteArray>{flood.left(8), flood.left(8)}));
}

// A steady stream holds the tick back even once the buffer is full and its
// bytes are being dropped: one block, taken after the stream stops.
void TestSetterWindow::streamPastFullBufferIsOneBlock()
{
    onPort();
    if (QTest::currentTestFailed())
        return;
    constexpr int Chunks = 30;
    constexpr int ChunkBytes = 64; // 1920 bytes in all, 1024 kept
    constexpr int Every = 50; // ms
    QByteArray stream;
    for (int i = 0; i < Chunks * ChunkBytes; ++i)
        stream.append(char(i == 0 ? 0x03 : 0x40 + i % 50));

    QElapsedTimer clock;
    clock.start();
    QList<qint64> tickedAt;
    qint64 lastWrite = -1;
    bool writeFailed = false;
    int written = 0;
    QObject scope; // goes first, taking its timers and connections along
    connect(window->rx(), &Timer::Tick, &scope, [&] { tickedAt << clock.nsecsElapsed(); });
    QTimer writer;
    writer.setTimerType(Qt::PreciseTimer);
    writer.setInterval(Every);
    connect(&writer, &QTimer::timeout, &scope, [&] {
        writeFailed |= !pty->write(stream.mid(written * ChunkBytes, ChunkBytes));
        lastWrite = clock.nsecsElapsed();
        if (++written == Chunks)
            writer.stop();
    });
    writer.start();

    QVERIFY(runUntil([&] { return written == Chunks && !tickedAt.isEmpty() && !window->rx()->isCounting(); },
                     Patience));
    QVERIFY(!writeFailed);
    // The port keeps the first 1024 bytes.
    QCOMPARE(window->blocks, QList<QByteArray>{stream.left(1024)});
    QCOMPARE(tickedAt.size(), 1);
    QVERIFY2(tickedAt.first() - lastWrite >= EarliestTickNs, qPrintable(afterMs(tickedAt.first() - lastWrite)));
    QVERIFY(!boxes->shown.isEmpty());
    for (const ShownBox &box : std::as_const(boxes->shown))
        QCOMPARE(box.text, QString("資料接收區超過"));
}
#endif

QTEST_MAIN(TestSetterWindow)
#include "tst_setterwindow.moc"
