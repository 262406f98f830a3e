#include "boxwatcher.h"
#include "bytes.h"
#include "controls.h"
#include "fakeserial.h"
#include "fakestart.h"
#include "frmombrixstage.h"
#include "patience.h"
#ifdef OMBRIX_HAVE_PTY
#include "pty.h"
#include "qtserialcontrol.h"
#endif
#include "widgetprobe.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QToolButton>

using namespace ombrix;
using probe::hex;
using probe::Patience;

namespace {

// What the operator does to a time box: empty it, then type or paste.
struct Entry
{
    QString typed;
    bool paste = false;
};

} // namespace

class TestStagePairs : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void typing_data();
    void typing();
    void commaLocale();
    void arrowsAtTheEnds();
    void entryNeverMovesAnotherPair();
    void writeSendsTheBars_data();
    void writeSendsTheBars();
    void writeWithNoPortTellsOperator();
    void replyFillsTheWindow();
    void replyLeavesWhatItDoesNotChange();
    void shortReplyChangesNothing();
#ifdef OMBRIX_HAVE_PTY
    void roundTripThroughSetter();
#endif

private:
    FakeSerial *serial = nullptr;
    FrmOmbrixStage *window = nullptr;

    QLineEdit *box(int k, int f) const { return probe::control<QLineEdit>(window, QString("TextStep%1(%2)").arg(k).arg(f)); }
    VScrollBar *bar(int k, int f) const { return probe::control<VScrollBar>(window, QString("VsStep%1(%2)").arg(k).arg(f)); }
    QRadioButton *opt(int k, int item) const { return probe::control<QRadioButton>(window, QString("OptStep%1(%2)").arg(k).arg(item)); }

    void type(QLineEdit *b, const Entry &e) { probe::enterText(b, e.typed, e.paste); }
    QList<int> times() const
    {
        QList<int> t;
        for (int f = 0; f < 2; ++f)
            for (int k = 1; k <= 5; ++k)
                t << bar(k, f)->Value();
        return t;
    }
    QStringList texts() const
    {
        QStringList t;
        for (int f = 0; f < 2; ++f)
            for (int k = 1; k <= 5; ++k)
                t << box(k, f)->text();
        return t;
    }
    QList<bool> speeds() const
    {
        QList<bool> s;
        for (int k = 1; k <= 5; ++k)
            for (int item = 0; item < 8; ++item)
                s << opt(k, item)->isChecked();
        return s;
    }
    void tickWith(const QByteArray &block)
    {
        serial->receive(block);
        QTRY_VERIFY_WITH_TIMEOUT(serial->buffer.isEmpty(), Patience);
    }
};

void TestStagePairs::init()
{
    auto started = probe::startOnFake<FrmOmbrixStage>({8});
    serial = started.serial;
    window = started.window.release();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

void TestStagePairs::cleanup()
{
    delete window;
    window = nullptr;
    QLocale::setDefault(QLocale::c());
}

void TestStagePairs::typing_data()
{
    QTest::addColumn<int>("before");  // the bar's value before the entry
    QTest::addColumn<Entry>("entry");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("after");

    // Pasted: the box comes to hold the whole text in one change.
    QTest::newRow("emptied") << 5 << Entry{"", true} << "" << 5;
    QTest::newRow("256") << 5 << Entry{"256", true} << "256" << 5;
    QTest::newRow("-1") << 5 << Entry{"-1", true} << "-1" << 5;
    QTest::newRow("letters") << 5 << Entry{"ab", true} << "ab" << 5;
    QTest::newRow("255") << 5 << Entry{"255", true} << "255" << 255;
    QTest::newRow("0") << 5 << Entry{"0", true} << "0" << 0;
    QTest::newRow("1.5 from 5") << 5 << Entry{"1.5", true} << "2" << 2;
    QTest::newRow("2.5 from 2") << 2 << Entry{"2.5", true} << "2.5" << 2;
    QTest::newRow("2.5 from 5") << 5 << Entry{"2.5", true} << "2" << 2;
    QTest::newRow("0.5") << 5 << Entry{"0.5", true} << "0" << 0;
    QTest::newRow("3.5") << 5 << Entry{"3.5", true} << "4" << 4;
    QTest::newRow("2.6") << 5 << Entry{"2.6", true} << "3" << 3;
    QTest::newRow("007 from 0") << 0 << Entry{"007", true} << "7" << 7;
    QTest::newRow("07 at 7") << 7 << Entry{"07", true} << "07" << 7;
    QTest::newRow("00 at 0") << 0 << Entry{"00", true} << "00" << 0;
    QTest::newRow("fourth pasted refused") << 5 << Entry{"1234", true} << "123" << 123;
    QTest::newRow("pasted, too large") << 5 << Entry{"98765", true} << "987" << 5;
    // Typed key by key: every keystroke is an entry of its own.
    QTest::newRow("typed 256") << 5 << Entry{"256"} << "256" << 25;
    QTest::newRow("typed minus five") << 10 << Entry{"-5"} << "-5" << 10;
    QTest::newRow("typed 1a") << 5 << Entry{"1a"} << "1a" << 1;
    QTest::newRow("typed 2.5") << 9 << Entry{"2.5"} << "2.5" << 2;
    QTest::newRow("typed 3.5") << 9 << Entry{"3.5"} << "4" << 4;
    QTest::newRow("typed 07 at 7") << 7 << Entry{"07"} << "7" << 7;
    QTest::newRow("typed 007 at 0") << 0 << Entry{"007"} << "7" << 7;
    QTest::newRow("fourth key refused") << 5 << Entry{"1234"} << "123" << 123;
    QTest::newRow("7 into emptied box") << 10 << Entry{"7"} << "7" << 7;
}

void TestStagePairs::typing()
{
    QFETCH(int, before);
    QFETCH(Entry, entry);
    QFETCH(QString, shown);
    QFETCH(int, after);

    bar(2, 0)->setValue(before);
    QCOMPARE(box(2, 0)->text(), QString::number(before));
    type(box(2, 0), entry);
    QCOMPARE(box(2, 0)->text(), shown);
    QCOMPARE(bar(2, 0)->Value(), after);
}

void TestStagePairs::commaLocale()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    bar(1, 1)->setValue(9);
    type(box(1, 1), {"3,5"});
    QCOMPARE(bar(1, 1)->Value(), 4);
    QCOMPARE(box(1, 1)->text(), QString("4"));
    type(box(1, 1), {"2.5"});
    QCOMPARE(bar(1, 1)->Value(), 2);
    QCOMPARE(box(1, 1)->text(), QString("2.5"));
}

void TestStagePairs::arrowsAtTheEnds()
{
    QScrollBar *qt = probe::innerBar(bar(4, 0));
    bar(4, 0)->setValue(255);
    type(box(4, 0), {"999", true});
    QTest::mouseClick(qt, Qt::LeftButton, {}, probe::arrow(qt, true));
    QCOMPARE(bar(4, 0)->Value(), 255);
    QCOMPARE(box(4, 0)->text(), QString("999")); // no handler ran

    QTest::mouseClick(qt, Qt::LeftButton, {}, probe::arrow(qt, false));
    QCOMPARE(bar(4, 0)->Value(), 254);
    QCOMPARE(box(4, 0)->text(), QString("254"));

    bar(4, 0)->setValue(0);
    type(box(4, 0), {"abc"});
    QTest::mouseClick(qt, Qt::LeftButton, {}, probe::arrow(qt, false));
    QCOMPARE(bar(4, 0)->Value(), 0);
    QCOMPARE(box(4, 0)->text(), QString("abc"));
    QTest::mouseClick(qt, Qt::LeftButton, {}, probe::arrow(qt, true));
    QCOMPARE(box(4, 0)->text(), QString("1"));

    // Moving a bar to 5 shows plain 5.
    bar(4, 0)->setValue(4);
    QTest::mouseClick(qt, Qt::LeftButton, {}, probe::arrow(qt, true));
    QCOMPARE(box(4, 0)->text(), QString("5"));
}

void TestStagePairs::entryNeverMovesAnotherPair()
{
    for (int f = 0; f < 2; ++f) {
        for (int k = 1; k <= 5; ++k) {
            QList<int> expected = times();
            expected[5 * f + k - 1] = 200 + k;
            type(box(k, f), {QString::number(200 + k)});
            QCOMPARE(times(), expected);
        }
    }
}

void TestStagePairs::writeSendsTheBars_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("at start") << "" << hex("02 16 5A 05 14 08 1E 05 0A 0A 0A 0A 0A 01 03 00 02 01 01 03 00 02 01 1C");
    QTest::newRow("stage 3 of function 2 high") << "high" << hex("02 16 5A 05 14 08 1E 05 0A 0A 0A 0A 0A 01 03 00 02 01 01 03 03 02 01 1F");
    QTest::newRow("refused text in a box") << "refused" << hex("02 16 5A 05 14 08 1E 05 0A 0A 0A 0A 0A 01 03 00 02 01 01 03 00 02 01 1C");
}

void TestStagePairs::writeSendsTheBars()
{
    QFETCH(QString, action);
    QFETCH(QByteArray, frame);

    if (action == "high") {
        QTest::mouseClick(opt(3, 4), Qt::LeftButton);
    } else if (action == "refused") {
        type(box(1, 0), {"256", true});
        type(box(2, 1), {""});
        type(box(3, 0), {"x"});
    }
    serial->written.clear();
    QTest::mouseClick(probe::control(window, "CmdWr"), Qt::LeftButton);
    QTest::mouseClick(probe::control(window, "CmdWr"), Qt::LeftButton);
    QCOMPARE(serial->written.size(), 2);
    QCOMPARE(serial->written.at(0).toHex(' '), frame.toHex(' '));
    QCOMPARE(serial->written.at(1), frame);
}

void TestStagePairs::writeWithNoPortTellsOperator()
{
    serial->setPortOpen(false); // the adapter went away
    probe::BoxWatcher boxes;
    type(box(1, 0), {"77"});
    QTest::mouseClick(probe::control(window, "CmdWr"), Qt::LeftButton);
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY2(boxes.texts.first().contains("未開啟"), qPrintable(boxes.texts.first()));
    QCOMPARE(box(1, 0)->text(), QString("77"));
    QCOMPARE(bar(1, 0)->Value(), 77);
}

void TestStagePairs::replyFillsTheWindow()
{
    const QStringList startTexts = texts();
    const QList<bool> startSpeeds = speeds();
    for (int f = 0; f < 2; ++f)
        for (int k = 1; k <= 5; ++k)
            bar(k, f)->setValue(100 + k);
    QTest::mouseClick(opt(1, 0), Qt::LeftButton);
    QTest::mouseClick(opt(5, 7), Qt::LeftButton);

    tickWith(hex("03 00 00 05 14 08 1E 05 0A 0A 0A 0A 0A 01 03 00 02 01 01 03 00 02 01"));
    QCOMPARE(texts(), startTexts);
    QCOMPARE(speeds(), startSpeeds);

    tickWith(hex("03 16 5A 00 FF 00 FF 00 FF 00 FF 00 FF 03 03 03 03 03 00 00 00 00 00 99 01 02"));
    QCOMPARE(times(), (QList<int>{0, 255, 0, 255, 0, 255, 0, 255, 0, 255}));
    QCOMPARE(texts(), (QStringList{"0", "255", "0", "255", "0", "255", "0", "255", "0", "255"}));
    for (int k = 1; k <= 5; ++k) {
        QVERIFY(opt(k, 0)->isChecked());
        QVERIFY(opt(k, 7)->isChecked());
    }
}

void TestStagePairs::replyLeavesWhatItDoesNotChange()
{
    // Speed bytes of 4 and up leave their group; a bar given the value it
    // holds leaves a refused entry in its box.
    type(box(1, 0), {"300", true});
    const QList<bool> before = speeds();
    tickWith(hex("03 16 5A 05 40 08 1E 05 0A 0A 0A 0A 0A 04 00 FF 02 01 01 03 00 02 80"));
    QCOMPARE(box(1, 0)->text(), QString("300"));
    QCOMPARE(bar(2, 0)->Value(), 64);
    QCOMPARE(box(2, 0)->text(), QString("64"));
    QList<bool> expected = before;
    // stage 2 of function 1 goes to pause (item 3); the others keep theirs
    for (int item = 0; item < 4; ++item)
        expected[8 * 1 + item] = item == 3;
    QCOMPARE(speeds(), expected);
}

void TestStagePairs::shortReplyChangesNothing()
{
    const QList<int> t = times();
    const QList<bool> s = speeds();
    const QByteArray full = hex("03 16 5A 01 02 03 04 05 06 07 08 09 0A 03 03 03 03 03 00 00 00 00 00");
    for (int size : {1, 2, 3, 4, 12, 22}) {
        tickWith(full.left(size));
        QCOMPARE(times(), t);
        QCOMPARE(speeds(), s);
    }
    tickWith(full);
    QCOMPARE(times(), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
}

#ifdef OMBRIX_HAVE_PTY
void TestStagePairs::roundTripThroughSetter()
{
    cleanup();
    PseudoTerminal setter;
    QVERIFY2(setter.isValid(), qPrintable(setter.errorString()));
    const QString path = setter.slavePath();
    auto control = std::make_unique<QtSerialControl>([path](int n) { return n == 1 ? path : QString(); });
    const QtSerialControl *port = control.get();
    window = new FrmOmbrixStage(std::move(control));
    window->Form_Load();
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTest::mouseClick(probe::control(window, "OptCom1"), Qt::LeftButton);
    QVERIFY(port->PortOpen());

    // Edit, write: the setter stores what it gets.
    type(box(1, 0), {"42"});
    type(box(5, 1), {"250"});
    QTest::mouseClick(opt(2, 2), Qt::LeftButton);
    QTest::mouseClick(opt(4, 4), Qt::LeftButton);
    const QList<int> writtenTimes = times();
    const QList<bool> writtenSpeeds = speeds();
    QTest::mouseClick(probe::control(window, "CmdWr"), Qt::LeftButton);
    QByteArray stored = setter.readMaster(24);
    QCOMPARE(stored.size(), 24);
    QCOMPARE(stored.left(3), hex("02 16 5A"));

    // Change the window, read: the setter answers with what it stored.
    type(box(1, 0), {"9"});
    type(box(3, 1), {"0"});
    QTest::mouseClick(opt(2, 3), Qt::LeftButton);
    QTest::mouseClick(probe::control(window, "CmdRd"), Qt::LeftButton);
    QCOMPARE(setter.readMaster(5), hex("03 03 5A 00 00"));
    stored[0] = 3;
    QVERIFY(setter.write(stored.left(10)));
    QTest::qWait(20);
    QVERIFY(setter.write(stored.mid(10)));

    QTRY_COMPARE_WITH_TIMEOUT(times(), writtenTimes, Patience);
    QCOMPARE(speeds(), writtenSpeeds);
    QCOMPARE(box(1, 0)->text(), QString("42"));
    QCOMPARE(box(5, 1)->text(), QString("250"));
}
#endif

QTEST_MAIN(TestStagePairs)
#include "tst_stagepairs.moc"
