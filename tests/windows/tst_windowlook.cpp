// Both windows as a technician sees them: every caption whole, every bar as
// wide as its box, options that take a press anywhere, frames drawn the
// classic way, solid small captions and the keyboard where it belongs.

#include "lookup.h"
#include "fakeserial.h"
#include "fakestart.h"
#include "frmombrixlevel.h"
#include "frmombrixstage.h"
#include "leveldesign.h"
#include "lookprobe.h"
#include "stagedesign.h"
#include "twips.h"
#include "widgetprobe.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include <functional>
#include <memory>

using namespace ombrix;
using Kind = ControlSpec::Kind;

namespace {

struct Program
{
    const char *name;
    std::function<std::unique_ptr<SetterWindow>(std::unique_ptr<SerialControl>)> make;
    probe::Started<SetterWindow> (*start)(const QSet<int> &present);
    const Design &design;
};

const Program programs[] = {
    {"Ombrix5", [](auto serial) { return std::make_unique<FrmOmbrixStage>(std::move(serial)); },
     probe::startOnFake<FrmOmbrixStage, SetterWindow>, stageDesign()},
    {"Ombrix3", [](auto serial) { return std::make_unique<FrmOmbrixLevel>(std::move(serial)); },
     probe::startOnFake<FrmOmbrixLevel, SetterWindow>, levelDesign()},
};

// One row per control of the given kinds in both windows.
void addControlRows(std::initializer_list<Kind> kinds)
{
    QTest::addColumn<int>("program");
    QTest::addColumn<QString>("key");
    for (int p = 0; p < 2; ++p)
        for (const QString &key : look::keysOf(programs[p].design, kinds))
            QTest::addRow("%s %s", programs[p].name, qPrintable(key)) << p << key;
}

// The name of the control that has the keyboard: a scroll bar's inner bar
// counts as the bar.
QString focusedControl()
{
    QWidget *w = QApplication::focusWidget();
    if (!w)
        return QStringLiteral("nothing");
    return w->objectName().isEmpty() && w->parentWidget() ? w->parentWidget()->objectName() : w->objectName();
}

} // namespace

class TestWindowLook : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void captionsFit_data() { addControlRows({Kind::Label, Kind::Option, Kind::TextBox, Kind::Button}); }
    void captionsFit();
    void barsFillTheirBoxes_data() { addControlRows({Kind::VScroll}); }
    void barsFillTheirBoxes();
    void optionsReactOnWholeArea_data() { addControlRows({Kind::Option}); }
    void optionsReactOnWholeArea();
    void frameCaptionsOnBorder_data() { addControlRows({Kind::Frame}); }
    void frameCaptionsOnBorder();
    void smallCaptionsSolid_data();
    void smallCaptionsSolid();
    void focusOnFirstControlThatTakesIt_data();
    void focusOnFirstControlThatTakesIt();
    void tabLeavesTheLog_data();
    void tabLeavesTheLog();

private:
    template <typename T> void expectRight(QString (*check)(T *));
    QWidget *control(int program, const QString &key) const { return probe::control(windows[program].get(), key); }

    std::unique_ptr<SetterWindow> windows[2];
};

void TestWindowLook::initTestCase()
{
    for (int p = 0; p < 2; ++p) {
        auto serial = std::make_unique<FakeSerial>();
        serial->present = {1, 2, 3, 4, 5, 6, 7, 8}; // a press on any port opens it
        windows[p] = programs[p].make(std::move(serial));
        windows[p]->show();
        QVERIFY(QTest::qWaitForWindowExposed(windows[p].get()));
    }
}

void TestWindowLook::cleanupTestCase()
{
    for (auto &w : windows)
        w.reset();
}

void TestWindowLook::captionsFit()
{
    QFETCH(int, program);
    QFETCH(QString, key);
    QWidget *w = control(program, key);
    auto *box = qobject_cast<QLineEdit *>(w);
    const QString before = box ? box->text() : QString();
    if (box)
        box->setText(QStringLiteral("255")); // the widest time a box holds
    const int ink = look::inkOutside(w);
    if (box)
        box->setText(before);
    QVERIFY2(ink == 0, qPrintable(QStringLiteral("%1 pixels of the caption cut off").arg(ink)));

    // A label that runs on past its design width does so over free space
    // inside its frame only.
    const ControlSpec *designed = probe::designed(programs[program].design, key);
    QVERIFY(designed);
    const int designWidth = toPixels(designed->width);
    if (w->width() == designWidth)
        return;
    QVERIFY2(w->width() > designWidth, "narrower than its design");
    QVERIFY(qobject_cast<FrameBox *>(w->parentWidget()));
    // Stacked steps share a pixel row by rounding; that is no control in the way.
    const QRect runOn(w->x() + designWidth, w->y() + 1, w->width() - designWidth, w->height() - 2);
    QVERIFY(w->parentWidget()->rect().adjusted(2, 2, -2, -2).contains(runOn));
    for (const QWidget *other : w->parentWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (other != w)
            QVERIFY2(!other->geometry().intersects(runOn), qPrintable(other->objectName()));
}

// Each row's control, of the kind the check reads, with nothing wrong found.
template <typename T>
void TestWindowLook::expectRight(QString (*check)(T *))
{
    QFETCH(int, program);
    QFETCH(QString, key);
    T *w = qobject_cast<T *>(control(program, key));
    QVERIFY2(w, "not of the kind the check reads");
    const QString wrong = check(w);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void TestWindowLook::barsFillTheirBoxes()
{
    QFETCH(int, program);
    QFETCH(QString, key);
    QCOMPARE(control(program, key)->size(), QSize(33, 41));
    expectRight(look::barFillsBox);
}

void TestWindowLook::optionsReactOnWholeArea()
{
    expectRight(look::reactsOnWholeArea);
}

void TestWindowLook::frameCaptionsOnBorder()
{
    expectRight(look::captionOnBorder);
}

void TestWindowLook::smallCaptionsSolid_data()
{
    QTest::addColumn<int>("program");
    QTest::addColumn<QString>("key");
    for (int p = 0; p < 2; ++p)
        for (const char *key : {"CmdVersion", "CmdWr", "CmdRd", "CmdTest", "CmdClear", "OptCom1", "OptCom8"})
            QTest::addRow("%s %s", programs[p].name, key) << p << QString::fromLatin1(key);
}

void TestWindowLook::smallCaptionsSolid()
{
    QFETCH(int, program);
    QFETCH(QString, key);
    // Strokes smoothed into grey leave well under half of them solid.
    const double solid = look::captionSolidity(control(program, key));
    QVERIFY2(solid >= 0.75, qPrintable(QStringLiteral("only %1 % of the strokes solid").arg(solid * 100, 0, 'f', 0)));
}

void TestWindowLook::focusOnFirstControlThatTakesIt_data()
{
    QTest::addColumn<int>("program");
    QTest::addColumn<QSet<int>>("present");
    QTest::addColumn<QString>("focused");
    const QSet<int> all{1, 2, 3, 4, 5, 6, 7, 8};
    for (int p = 0; p < 2; ++p) {
        QTest::addRow("%s every port", programs[p].name) << p << all << "OptCom1";
        QTest::addRow("%s COM1 missing", programs[p].name) << p << (all - QSet<int>{1}) << "OptCom2";
        QTest::addRow("%s only COM6", programs[p].name) << p << QSet<int>{6} << "OptCom6";
        QTest::addRow("%s no port", programs[p].name) << p << QSet<int>{} << "CmdWr";
    }
}

void TestWindowLook::focusOnFirstControlThatTakesIt()
{
    QFETCH(int, program);
    QFETCH(QSet<int>, present);
    QFETCH(QString, focused);
    const auto started = programs[program].start(present);
    QVERIFY(QTest::qWaitForWindowActive(started.window.get()));
    QTRY_COMPARE(focusedControl(), focused);
}

void TestWindowLook::tabLeavesTheLog_data()
{
    QTest::addColumn<int>("program");
    QTest::addColumn<QString>("next");
    // The log's neighbour in tab order is the hidden Clear button; Tab
    // goes past it.
    QTest::newRow("Ombrix5") << 0 << "CmdRd";
    QTest::newRow("Ombrix3") << 1 << "CmdRd";
}

void TestWindowLook::tabLeavesTheLog()
{
    QFETCH(int, program);
    QFETCH(QString, next);
    SetterWindow *window = windows[program].get();
    auto *log = qobject_cast<QPlainTextEdit *>(control(program, "TextRec"));
    log->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    log->setPlainText(QStringLiteral("02 16"));
    log->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(log->hasFocus());
    QTest::keyClick(log, Qt::Key_Tab);
    const QString text = log->toPlainText();
    const QString focused = focusedControl();
    log->setVisible(program == 1); // as the window opens
    QCOMPARE(text, QStringLiteral("02 16"));
    QCOMPARE(focused, next);
}

QTEST_MAIN(TestWindowLook)
#include "tst_windowlook.moc"
