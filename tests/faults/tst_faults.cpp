// Faults of the line and of the port, on a real pseudo-terminal, against the
// full windows: the adapter pulled out, a flood, garbled replies, a port held
// by someone else.

#include "boxwatcher.h"
#include "bytes.h"
#include "controls.h"
#include "frmombrixlevel.h"
#include "frmombrixstage.h"
#include "loop.h"
#include "patience.h"
#include "portholder.h"
#include "pty.h"
#include "qtserialcontrol.h"
#include "widgetprobe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <memory>

using namespace ombrix;

namespace {

const QByteArray ReadCommand = QByteArray::fromHex("03035a0000");
const QString OverflowText = QStringLiteral("資料接收區超過");
const QString NoPortText = QStringLiteral("未開啟");

using probe::BoxWatcher;
using probe::hexText;
using probe::Patience;
using probe::ProgramPatience;
using probe::processCpuSeconds;
using probe::runEventLoop;

quint32 randomSeed()
{
    bool ok = false;
    const quint32 fromEnv = qEnvironmentVariable("OMBRIX_FAULT_SEED").toUInt(&ok, 0);
    return ok ? fromEnv : 0x0B1A5EEDu;
}

// Everything a reply can change, as the window shows it.
struct Shown
{
    QList<int> bars;
    QStringList boxes;
    QList<bool> speeds;
    QString version;
};

// The controls of one window in wire order, and its shortest parameter reply.
struct Layout
{
    QStringList bars;
    QStringList boxes;
    QStringList speeds; // five-stage: OptStepK(item), K 1..5, item 0..7
    int minReply = 0;
    bool stage = false;
};

Layout layoutOf(bool stage)
{
    Layout l;
    l.stage = stage;
    if (stage) {
        for (int f = 0; f < 2; ++f) {
            for (int k = 1; k <= 5; ++k) {
                l.bars << QStringLiteral("VsStep%1(%2)").arg(k).arg(f);
                l.boxes << QStringLiteral("TextStep%1(%2)").arg(k).arg(f);
            }
        }
        for (int k = 1; k <= 5; ++k)
            for (int item = 0; item < 8; ++item)
                l.speeds << QStringLiteral("OptStep%1(%2)").arg(k).arg(item);
        l.minReply = 23;
    } else {
        l.bars = QStringList{"VsHi", "VsStop", "VsLo"};
        l.boxes = QStringList{"TextHi", "TextStop", "TextLo"};
        l.minReply = 6;
    }
    return l;
}

// What the window must show after taking `block` as one reply: the block's
// layout read from scratch here, so no production decoder is trusted.
Shown expectAfter(const Layout &l, const Shown &before, const QByteArray &block)
{
    Shown after = before;
    if (block.isEmpty())
        return after;
    const auto byte = [&](int i) { return int(static_cast<unsigned char>(block.at(i))); };
    if (byte(0) == 0x00) {
        after.version = QString::fromLatin1(block.constData() + 1, block.size() - 1);
    } else if (byte(0) == 0x03 && block.size() >= l.minReply) {
        for (int i = 0; i < l.bars.size(); ++i)
            after.bars[i] = byte(3 + i);
        if (l.stage) {
            for (int f = 0; f < 2; ++f) {
                for (int k = 1; k <= 5; ++k) {
                    const int code = byte(13 + 5 * f + (k - 1));
                    if (code > 3)
                        continue; // not a speed: the stage keeps its own
                    for (int j = 0; j < 4; ++j)
                        after.speeds[(k - 1) * 8 + 4 * f + j] = j == 3 - code;
                }
            }
        }
    }
    // A box follows its bar only when the bar really moved.
    for (int i = 0; i < l.bars.size(); ++i)
        after.boxes[i] = after.bars[i] != before.bars[i] ? QString::number(after.bars[i]) : before.boxes[i];
    return after;
}

QString diff(const Shown &actual, const Shown &expected)
{
    QString out;
    const auto ints = [](const QList<int> &v) {
        QStringList s;
        for (int x : v)
            s << QString::number(x);
        return s.join(' ');
    };
    const auto bools = [](const QList<bool> &v) {
        QString s;
        for (bool x : v)
            s += x ? '1' : '0';
        return s;
    };
    if (actual.bars != expected.bars)
        out += QStringLiteral("\n  bars   %1\n  wanted %2").arg(ints(actual.bars), ints(expected.bars));
    if (actual.boxes != expected.boxes)
        out += QStringLiteral("\n  boxes  %1\n  wanted %2")
                   .arg(actual.boxes.join(" | "), expected.boxes.join(" | "));
    if (actual.speeds != expected.speeds)
        out += QStringLiteral("\n  speeds %1\n  wanted %2").arg(bools(actual.speeds), bools(expected.speeds));
    if (actual.version != expected.version)
        out += QStringLiteral("\n  version %1\n  wanted  %2")
                   .arg(hexText(actual.version.toLatin1()), hexText(expected.version.toLatin1()));
    return out;
}

// A parameter reply in the write frame's layout; speed bytes now and then
// name no speed. With or without its check byte.
QByteArray readReply(const Layout &l, QRandomGenerator &rng)
{
    QByteArray r;
    r.append(char(0x03)).append(char(l.stage ? 0x16 : 0x05)).append(char(0x5A));
    for (int i = 0; i < l.bars.size(); ++i)
        r.append(char(rng.bounded(256)));
    if (l.stage)
        for (int i = 0; i < 10; ++i)
            r.append(char(rng.bounded(6) == 0 ? 4 + rng.bounded(252) : rng.bounded(4)));
    if (rng.bounded(2))
        r.append(char(0x5A ^ probe::xorAll(r)));
    return r;
}

QByteArray versionReply(QRandomGenerator &rng)
{
    QByteArray r("\x00V", 2);
    r += QByteArray::number(rng.bounded(10)) + '.' + QByteArray::number(rng.bounded(10));
    for (int n = rng.bounded(6); n > 0; --n)
        r.append(char(rng.bounded(256)));
    return r;
}

QByteArray anyReply(const Layout &l, QRandomGenerator &rng)
{
    return rng.bounded(3) == 0 ? versionReply(rng) : readReply(l, rng);
}

// 0..64 bytes; the first byte is often one the window dispatches on.
QByteArray garbage(QRandomGenerator &rng)
{
    QByteArray g;
    const int size = rng.bounded(65);
    for (int i = 0; i < size; ++i)
        g.append(char(rng.bounded(256)));
    if (size > 0 && rng.bounded(2))
        g[0] = char(rng.bounded(4));
    return g;
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void farEndVanishes_data();
    void farEndVanishes();
    void flood();
    void vanishesUnderOverflowBox();
    void garbledReplies_data();
    void garbledReplies();
    void busyPortAtStart_data();
    void busyPortAtStart();
    void busyPortAtChoice_data();
    void busyPortAtChoice();

private:
    std::unique_ptr<BoxWatcher> boxes;
    QHash<int, QString> devices; // what each COM number maps to right now
    SetterWindow *window = nullptr;
    QtSerialControl *serial = nullptr; // the window's
    std::unique_ptr<QSignalSpy> ticks;
    Layout layout;
    quint32 seed = 0;
    QString lastStep; // the step a failure happened in

    void open(bool stage)
    {
        layout = layoutOf(stage);
        auto control = std::make_unique<QtSerialControl>([this](int n) { return devices.value(n); });
        serial = control.get();
        if (stage)
            window = new FrmOmbrixStage(std::move(control));
        else
            window = new FrmOmbrixLevel(std::move(control));
        window->Form_Load();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        ticks = std::make_unique<QSignalSpy>(rx(), &Timer::Tick);
    }
    // Opens the window with the setter as its COM2 and chooses that port.
    // Empty on success, else what went wrong.
    QString openOnSetter(const PseudoTerminal &setter, bool stage)
    {
        if (!setter.isValid())
            return setter.errorString();
        devices[2] = setter.slavePath();
        open(stage);
        if (QTest::currentTestFailed())
            return QStringLiteral("the window never showed");
        if (!option(2)->isEnabled())
            return QStringLiteral("COM2 refused");
        QTest::mouseClick(option(2), Qt::LeftButton);
        if (!port()->PortOpen())
            return QStringLiteral("COM2 did not open");
        return {};
    }
    template <typename T = QWidget> T *c(const QString &key) const { return probe::control<T>(window, key); }
    QtSerialControl *port() const { return serial; }
    Timer *rx() const { return window->findChild<Timer *>(QStringLiteral("TmrRx")); }
    QRadioButton *option(int n) const { return c<QRadioButton>(QStringLiteral("OptCom%1").arg(n)); }
    void press(const QString &key) { QTest::mouseClick(c(key), Qt::LeftButton); }

    Shown shown() const
    {
        Shown s;
        for (const QString &b : layout.bars)
            s.bars << c<VScrollBar>(b)->Value();
        for (const QString &b : layout.boxes)
            s.boxes << c<QLineEdit>(b)->text();
        for (const QString &o : layout.speeds)
            s.speeds << c<QRadioButton>(o)->isChecked();
        s.version = c<QLabel>("LblVersion")->text();
        return s;
    }

    // Writes the chunks `gaps` ms apart from timers and waits for the tick
    // that ends the block. Empty on success, else what went wrong.
    QString sendBlock(PseudoTerminal &setter, const QList<QByteArray> &chunks, const QList<int> &gaps)
    {
        const int before = int(ticks->count());
        int written = 0;
        int ticksAtLastChunk = -1;
        bool failed = false;
        QObject scope; // goes first, taking its pending timers along
        std::function<void()> next = [&] {
            failed |= !setter.write(chunks.at(written));
            ++written;
            if (written == chunks.size())
                ticksAtLastChunk = int(ticks->count());
            else
                QTimer::singleShot(gaps.at(written - 1), &scope, [&next] { next(); });
        };
        next();
        const bool ticked = QTest::qWaitFor(
            [&] { return written == chunks.size() && ticks->count() > before && !rx()->isCounting(); }, Patience);
        if (failed)
            return QStringLiteral("write failed: ") + setter.errorString();
        if (!ticked)
            return QStringLiteral("no tick after the block");
        if (ticksAtLastChunk != before)
            return QStringLiteral("block cut before its last chunk");
        if (ticks->count() != before + 1)
            return QStringLiteral("%1 ticks for one block").arg(ticks->count() - before);
        if (port()->InBufferCount() != 0)
            return QStringLiteral("%1 bytes left after the tick").arg(port()->InBufferCount());
        return {};
    }
};

void TestFaults::init()
{
    boxes = std::make_unique<BoxWatcher>();
    devices.clear();
    seed = randomSeed();
    lastStep.clear();
}

void TestFaults::cleanup()
{
    if (QTest::currentTestFailed()) {
        qWarning("random seed 0x%08X (OMBRIX_FAULT_SEED repeats it)", seed);
        if (!lastStep.isEmpty())
            qWarning("last step: %s", qPrintable(lastStep));
    }
    ticks.reset();
    delete window;
    window = nullptr;
    serial = nullptr;
    boxes.reset();
}

void TestFaults::farEndVanishes_data()
{
    QTest::addColumn<bool>("stage");
    QTest::newRow("five-stage") << true;
    QTest::newRow("three-level") << false;
}

void TestFaults::farEndVanishes()
{
    QFETCH(bool, stage);
    auto setter = std::make_unique<PseudoTerminal>();
    QCOMPARE(openOnSetter(*setter, stage), QString());

    QCOMPARE(sendBlock(*setter, {QByteArray("\x00V1.3", 5)}, {}), QString());
    QCOMPARE(c<QLabel>("LblVersion")->text(), QString("V1.3"));
    // The operator's edits: a value taken, an entry refused, a speed chosen.
    probe::enterText(c<QLineEdit>(layout.boxes.first()), "77", true);
    probe::enterText(c<QLineEdit>(layout.boxes.last()), "abc", true);
    if (stage)
        QTest::mouseClick(c("OptStep3(5)"), Qt::LeftButton);
    const Shown edited = shown();
    QCOMPARE(edited.bars.first(), 77);
    QCOMPARE(edited.boxes.last(), QString("abc"));

    // Half a reply is in when the adapter goes.
    QRandomGenerator rng(seed);
    QVERIFY(setter->write(readReply(layout, rng).left(4)));
    QTRY_COMPARE_WITH_TIMEOUT(port()->InBufferCount(), 4, Patience);
    setter->closeMaster();
    QTRY_VERIFY_WITH_TIMEOUT(!port()->PortOpen(), Patience);
    QTRY_VERIFY_WITH_TIMEOUT(!rx()->isCounting(), Patience);
    QCOMPARE(diff(shown(), edited), QString());
    QVERIFY(boxes->texts.isEmpty());

    // Left alone now, the program idles.
    const int ticksBefore = int(ticks->count());
    const double cpuBefore = processCpuSeconds();
    runEventLoop(1000);
    const double used = processCpuSeconds() - cpuBefore;
    qInfo("%.3f s of CPU in the second after the hang-up", used);
    QVERIFY2(used < 0.3, qPrintable(QStringLiteral("%1 s of CPU in 1 s after the hang-up").arg(used)));
    QCOMPARE(ticks->count(), ticksBefore);

    // Each command tells the operator there is no port, and nothing else.
    for (const char *button : {"CmdRd", "CmdTest", "CmdWr"}) {
        const int before = int(boxes->texts.size());
        press(button);
        QCOMPARE(boxes->texts.size(), before + 1);
        QVERIFY2(boxes->texts.last().contains(NoPortText), qPrintable(boxes->texts.last()));
        QCOMPARE(boxes->titles.last(), QString(stage ? "Ombrix5" : "Ombrix3"));
        QVERIFY(!port()->PortOpen());
        QCOMPARE(diff(shown(), edited), QString());
    }

    // Chosen again while the adapter is still gone: the port is named.
    QTest::mouseClick(option(2), Qt::LeftButton);
    QCOMPARE(boxes->texts.size(), 4);
    QVERIFY2(boxes->texts.last().contains("COM2") && !boxes->texts.last().contains(NoPortText),
             qPrintable(boxes->texts.last()));
    QVERIFY(!port()->PortOpen());

    // Plugged back in (under a new device name): choosing the port works.
    setter.reset();
    auto back = std::make_unique<PseudoTerminal>();
    QVERIFY2(back->isValid(), qPrintable(back->errorString()));
    devices[2] = back->slavePath();
    QTest::mouseClick(option(2), Qt::LeftButton);
    QVERIFY(port()->PortOpen());
    QCOMPARE(boxes->texts.size(), 4);

    // The edits survived: the write carries them, and a read still lands.
    press("CmdWr");
    const QByteArray frame = back->readMaster(stage ? 24 : 7, Patience);
    QCOMPARE(frame.size(), stage ? 24 : 7);
    for (int i = 0; i < edited.bars.size(); ++i)
        QCOMPARE(int(static_cast<unsigned char>(frame.at(3 + i))), edited.bars.at(i));
    if (stage)
        QCOMPARE(int(frame.at(13 + 7)), 2); // OptStep3(5): function 2, stage 3, second from top
    press("CmdRd");
    QCOMPARE(back->readMaster(5, Patience), ReadCommand);
    const QByteArray reply = readReply(layout, rng);
    QCOMPARE(sendBlock(*back, {reply}, {}), QString());
    QCOMPARE(diff(shown(), expectAfter(layout, edited, reply)), QString());
    QCOMPARE(boxes->texts.size(), 4);
}

void TestFaults::flood()
{
    PseudoTerminal setter;
    QCOMPARE(openOnSetter(setter, true), QString());
    QVERIFY(boxes->texts.isEmpty());
    const Shown start = shown();

    // 1 MiB of a byte no reply starts with, as fast as the port takes it.
    // 1 KiB a pass stays well inside what the pty holds unread.
    constexpr qsizetype FloodBytes = 1 << 20;
    const QByteArray chunk(1024, 'U');
    qsizetype sent = 0;
    bool writeFailed = false;
    bool floodDone = false;
    int ticksAtEnd = -1;
    int boxesAtEnd = -1;
    qint64 worstLatency = 0;
    int serviced = 0;
    QElapsedTimer clock;
    clock.start();

    QObject scope; // goes first, taking its timers and connections along
    QTimer writer;
    writer.setInterval(0);
    connect(&writer, &QTimer::timeout, &scope, [&] {
        writeFailed |= !setter.write(chunk, Patience);
        sent += chunk.size();
        if (writeFailed || sent >= FloodBytes) {
            writer.stop();
            floodDone = true;
            ticksAtEnd = int(ticks->count());
            boxesAtEnd = int(boxes->texts.size());
        }
    });
    // A posted call every 5 ms: how long it waits shows whether the
    // window keeps up with its event queue under the flood.
    QTimer prober;
    prober.setInterval(5);
    connect(&prober, &QTimer::timeout, &scope, [&] {
        const qint64 posted = clock.elapsed();
        QMetaObject::invokeMethod(&scope, [&, posted] {
            worstLatency = qMax(worstLatency, clock.elapsed() - posted);
            ++serviced;
        }, Qt::QueuedConnection);
    });
    // The overflow box stays open until the flood is over and the window
    // has taken what came last, so any second box would stack on it.
    boxes->holdWhile = [&] { return !floodDone || ticks->count() == ticksAtEnd; };

    writer.start();
    prober.start();
    QVERIFY(QTest::qWaitFor(
        [&] { return floodDone && ticks->count() > ticksAtEnd && boxes->open == 0 && !boxes->texts.isEmpty(); },
        ProgramPatience));
    prober.stop();
    boxes->holdWhile = nullptr;
    qInfo("flood of %lld bytes took %lld ms; %d probes, worst wait %lld ms", qlonglong(sent),
          qlonglong(clock.elapsed()), serviced, qlonglong(worstLatency));

    QVERIFY2(!writeFailed, qPrintable(setter.errorString()));
    QCOMPARE(boxesAtEnd, 1); // it came while the flood ran
    QCOMPARE(boxes->texts, QStringList{OverflowText});
    QCOMPARE(boxes->titles, QStringList{"Ombrix5"});
    QCOMPARE(boxes->maxOpen, 1);
    QVERIFY(serviced > 0);
    QVERIFY2(worstLatency < 1000, qPrintable(QStringLiteral("a posted call waited %1 ms").arg(worstLatency)));
    QVERIFY(port()->PortOpen());
    QCOMPARE(port()->InBufferCount(), 0);
    QCOMPARE(diff(shown(), start), QString());

    // The line is usable again: a read gets its reply shown.
    press("CmdRd");
    QCOMPARE(setter.readMaster(5, Patience), ReadCommand);
    const QByteArray reply = QByteArray::fromHex("03165a0102030405060708090a03020100030201000302");
    QCOMPARE(reply.size(), 23);
    QCOMPARE(sendBlock(setter, {reply}, {}), QString());
    const Shown after = shown();
    QCOMPARE(after.bars, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    QCOMPARE(diff(after, expectAfter(layout, start, reply)), QString());
    QCOMPARE(boxes->texts.size(), 1);
}

void TestFaults::vanishesUnderOverflowBox()
{
    auto setter = std::make_unique<PseudoTerminal>();
    QCOMPARE(openOnSetter(*setter, true), QString());
    const Shown start = shown();

    // A flood opens the overflow box; the adapter goes while it stands, so
    // the loss is met inside the box's own event loop.
    const QByteArray chunk(1024, 'U');
    bool writeFailed = false;
    bool gone = false;
    qsizetype sent = 0;
    QObject scope;
    QTimer writer;
    writer.setInterval(0);
    connect(&writer, &QTimer::timeout, &scope, [&] {
        if (boxes->open == 0 && sent < (1 << 20)) {
            writeFailed |= !setter->write(chunk, Patience);
            sent += chunk.size();
            return;
        }
        writer.stop();
        setter->closeMaster();
        gone = true;
    });
    boxes->holdWhile = [&] { return port()->PortOpen(); };
    writer.start();
    QVERIFY(QTest::qWaitFor([&] { return gone && !port()->PortOpen() && boxes->open == 0; }, ProgramPatience));
    boxes->holdWhile = nullptr;
    QVERIFY(!writeFailed);
    QCOMPARE(boxes->texts, QStringList{OverflowText});
    QCOMPARE(boxes->maxOpen, 1);
    QVERIFY(!port()->PortOpen());

    const double cpuBefore = processCpuSeconds();
    runEventLoop(1000);
    const double used = processCpuSeconds() - cpuBefore;
    QVERIFY2(used < 0.3, qPrintable(QStringLiteral("%1 s of CPU in 1 s after the hang-up").arg(used)));
    QCOMPARE(boxes->texts.size(), 1);
    QCOMPARE(diff(shown(), start), QString());

    press("CmdRd");
    QCOMPARE(boxes->texts.size(), 2);
    QVERIFY(boxes->texts.last().contains(NoPortText));
}

void TestFaults::garbledReplies_data()
{
    QTest::addColumn<bool>("stage");
    QTest::addColumn<int>("steps");
    QTest::newRow("five-stage") << true << 110;
    QTest::newRow("three-level") << false << 60;
}

void TestFaults::garbledReplies()
{
    QFETCH(bool, stage);
    QFETCH(int, steps);
    PseudoTerminal setter;
    QCOMPARE(openOnSetter(setter, stage), QString());

    QRandomGenerator rng(seed);
    const QStringList entries = {"999", "abc", "", "-1", "1.5"};
    int blocksSent = 0;

    for (int step = 0; step < steps; ++step) {
        // Now and then the operator leaves an entry in a box first.
        if (rng.bounded(5) == 0) {
            const QString box = layout.boxes.at(rng.bounded(int(layout.boxes.size())));
            const QString text = rng.bounded(3) == 0 ? QString::number(rng.bounded(256))
                                                     : entries.at(rng.bounded(int(entries.size())));
            probe::enterText(c<QLineEdit>(box), text, true);
        }

        // Each block below is what the window must take as one reply.
        struct Block
        {
            QList<QByteArray> chunks;
            QList<int> gaps;
        };
        QList<Block> blocks;
        QString kind;
        switch (rng.bounded(4)) {
        case 0: {
            kind = "garbage";
            const QByteArray g = garbage(rng);
            if (!g.isEmpty())
                blocks << Block{{g}, {}};
            break;
        }
        case 1: {
            // Cut at 1..3 distinct points, the pieces a few ms apart.
            kind = "split";
            const QByteArray r = anyReply(layout, rng);
            QList<int> cuts;
            const int pieces = qMin(2 + int(rng.bounded(3)), int(r.size()));
            while (cuts.size() < pieces - 1) {
                const int at = 1 + rng.bounded(int(r.size()) - 1);
                if (!cuts.contains(at))
                    cuts << at;
            }
            std::sort(cuts.begin(), cuts.end());
            cuts << int(r.size());
            Block b;
            int from = 0;
            for (int at : cuts) {
                b.chunks << r.mid(from, at - from);
                from = at;
            }
            for (int i = 1; i < b.chunks.size(); ++i)
                b.gaps << int(rng.bounded(26));
            blocks << b;
            break;
        }
        case 2:
            kind = "glued";
            blocks << Block{{anyReply(layout, rng) + anyReply(layout, rng)}, {}};
            break;
        default: {
            // The line goes quiet inside a reply: the window has ticked on
            // the first part before the rest comes.
            kind = "cut";
            const QByteArray r = anyReply(layout, rng);
            const int at = 1 + rng.bounded(int(r.size()) - 1);
            blocks << Block{{r.left(at)}, {}} << Block{{r.mid(at)}, {}};
            break;
        }
        }

        for (const Block &b : std::as_const(blocks)) {
            const QByteArray block = b.chunks.join();
            QStringList sizes;
            for (const QByteArray &ch : b.chunks)
                sizes << QString::number(ch.size());
            QStringList gaps;
            for (int g : b.gaps)
                gaps << QString::number(g);
            lastStep = QStringLiteral("seed 0x%1, step %2 %3, chunks %4, gaps %5 ms: %6")
                           .arg(seed, 8, 16, QChar('0'))
                           .arg(step)
                           .arg(kind, sizes.join(','), gaps.join(','), hexText(block));
            const Shown before = shown();
            const QString sent = sendBlock(setter, b.chunks, b.gaps);
            QVERIFY2(sent.isEmpty(), qPrintable(lastStep + "\n  " + sent));
            // All of the reply or none of it, and every moved bar's box in digits.
            const QString wrong = diff(shown(), expectAfter(layout, before, block));
            QVERIFY2(wrong.isEmpty(), qPrintable(lastStep + wrong));
            ++blocksSent;
        }
    }
    lastStep.clear();
    QVERIFY(port()->PortOpen());
    QVERIFY2(boxes->texts.isEmpty(), qPrintable(boxes->texts.join('\n')));
    qInfo("%d blocks", blocksSent);
}

namespace {

// Who holds a port: a comma-separated list of the helper program's marks, or
// "window" for another window of ours in this process.
void addHolderRows(bool withOpenPortColumn)
{
    QTest::addColumn<QString>("holder");
    if (withOpenPortColumn)
        QTest::addColumn<bool>("fromOpenPort");
    const struct
    {
        const char *name;
        const char *holder;
        bool fromOpenPort;
    } rows[] = {
        {"another window", "window", false},
        {"Qt lock file", "qtlock", true},
        {"ASCII lock file", "asciilock", false},
        {"binary lock file", "binarylock", true},
        {"advisory lock", "flock", false},
        {"ASCII lock file and advisory lock", "asciilock,flock", true},
        {"exclusive mode", "excl", false},
    };
    for (const auto &row : rows) {
        if (withOpenPortColumn)
            QTest::newRow(row.name) << QString(row.holder) << row.fromOpenPort;
        else
            QTest::newRow(row.name) << QString(row.holder);
    }
}

// Another window of ours, holding `device` as its COM2.
std::unique_ptr<SetterWindow> windowHolding(const QString &device, const QtSerialControl **port)
{
    auto control = std::make_unique<QtSerialControl>([device](int n) { return n == 2 ? device : QString(); });
    *port = control.get();
    auto other = std::make_unique<FrmOmbrixLevel>(std::move(control));
    other->OptCom2_Click();
    return other;
}

} // namespace

void TestFaults::busyPortAtStart_data()
{
    addHolderRows(false);
}

void TestFaults::busyPortAtStart()
{
    QFETCH(QString, holder);
    PseudoTerminal setter;
    QVERIFY2(setter.isValid(), qPrintable(setter.errorString()));
    const QString device = setter.slavePath();
    devices[2] = device;
    devices[3] = device;
    PortHolder program;
    std::unique_ptr<SetterWindow> other;
    const QtSerialControl *otherPort = nullptr;
    if (holder == "window") {
        other = windowHolding(device, &otherPort);
        QVERIFY(otherPort->PortOpen());
    } else {
        QVERIFY2(program.hold(device, holder), program.reply().constData());
    }
    const QByteArray lock = PortHolder::lockBytes(device);

    // COM2 and COM3 both name the held device: both are refused.
    open(true);
    QVERIFY(!option(2)->isEnabled());
    QVERIFY(!option(3)->isEnabled());
    QVERIFY(!port()->PortOpen());
    QVERIFY(boxes->texts.isEmpty());
    QCOMPARE(PortHolder::lockBytes(device), lock);
    if (other)
        QVERIFY(otherPort->PortOpen());

    // Let go, the device is free for anyone, yet the probe does not rerun.
    other.reset();
    program.release();
    QSerialPort anyone(device);
    QVERIFY2(anyone.open(QIODevice::ReadWrite), qPrintable(anyone.errorString()));
    anyone.close();
    QCoreApplication::processEvents();
    QVERIFY(!option(2)->isEnabled());
    QTest::mouseClick(option(2), Qt::LeftButton);
    QVERIFY(!option(2)->isChecked());
    QVERIFY(!port()->PortOpen());
    QVERIFY(boxes->texts.isEmpty());
}

void TestFaults::busyPortAtChoice_data()
{
    addHolderRows(true);
}

void TestFaults::busyPortAtChoice()
{
    QFETCH(QString, holder);
    QFETCH(bool, fromOpenPort);
    PseudoTerminal wanted;
    PseudoTerminal other;
    QVERIFY2(wanted.isValid(), qPrintable(wanted.errorString()));
    QVERIFY2(other.isValid(), qPrintable(other.errorString()));
    devices[2] = wanted.slavePath();
    devices[3] = other.slavePath();
    open(true);
    QVERIFY(option(2)->isEnabled());
    QVERIFY(option(3)->isEnabled());
    if (fromOpenPort) {
        QTest::mouseClick(option(3), Qt::LeftButton);
        QVERIFY(port()->PortOpen());
    }
    const Shown start = shown();

    // Another program, or another window, takes COM2 after the probe.
    PortHolder program;
    std::unique_ptr<SetterWindow> otherWindow;
    const QtSerialControl *otherPort = nullptr;
    if (holder == "window")
        otherWindow = windowHolding(wanted.slavePath(), &otherPort);
    else
        QVERIFY2(program.hold(wanted.slavePath(), holder), program.reply().constData());
    const QByteArray lock = PortHolder::lockBytes(wanted.slavePath());
    QTest::mouseClick(option(2), Qt::LeftButton);
    QCOMPARE(boxes->texts.size(), 1);
    QVERIFY2(boxes->texts.first().contains("COM2"), qPrintable(boxes->texts.first()));
    QCOMPARE(boxes->titles.first(), QString("Ombrix5"));
    QVERIFY(!port()->PortOpen());
    QCOMPARE(PortHolder::lockBytes(wanted.slavePath()), lock);
    if (otherWindow)
        QVERIFY(otherPort->PortOpen());
    // Nothing of ours is held: COM3's device is free for anyone.
    QSerialPort anyone(other.slavePath());
    QVERIFY2(anyone.open(QIODevice::ReadWrite), qPrintable(anyone.errorString()));
    anyone.close();
    // With no port, a command says so rather than failing quietly.
    press("CmdRd");
    QCOMPARE(boxes->texts.size(), 2);
    QVERIFY(boxes->texts.last().contains(NoPortText));
    QCOMPARE(diff(shown(), start), QString());

    // Once it is let go, choosing COM2 again works.
    otherWindow.reset();
    program.release();
    QTest::mouseClick(option(2), Qt::LeftButton);
    QVERIFY(port()->PortOpen());
    QCOMPARE(port()->CommPort(), 2);
    QCOMPARE(boxes->texts.size(), 2);
    press("CmdRd");
    QCOMPARE(wanted.readMaster(5, Patience), ReadCommand);
    const QByteArray reply = QByteArray::fromHex("03165a0b0c0d0e0f101112131400000000030303030303");
    QCOMPARE(sendBlock(wanted, {reply}, {}), QString());
    QCOMPARE(diff(shown(), expectAfter(layout, start, reply)), QString());
    QCOMPARE(boxes->texts.size(), 2);
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
