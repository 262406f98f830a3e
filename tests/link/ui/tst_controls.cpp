#include "boxwatcher.h"
#include "controls.h"
#include "design.h"
#include "patience.h"
#include "twips.h"
#include "widgetprobe.h"

#include <QApplication>
#include <QBackingStore>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QRawFont>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionSlider>
#include <QFontDatabase>
#include <QFontInfo>
#include <QTest>
#include <QToolButton>

#include <memory>

using namespace ombrix;

namespace {

// Shows a control on its own at the given size; false if it never shows.
bool showAlone(QWidget &w, const QSize &size)
{
    w.resize(size);
    w.show();
    return QTest::qWaitForWindowExposed(&w);
}

// The box around the pixels where two pictures of one size differ; empty
// where they are the same.
QRect changed(const QImage &a, const QImage &b)
{
    QRect box;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

class TestControls : public QObject
{
    Q_OBJECT
private slots:
    void scrollBarArrows_data();
    void scrollBarArrows();
    void scrollBarKeysAndWheelAgreeWithArrows();
    void scrollBarAssignment_data();
    void scrollBarAssignment();
    void scrollBarDragRaisesChangeOnRelease();
    void repaintsShowWhatAFullRenderShows_data();
    void repaintsShowWhatAFullRenderShows();
    void textBoxMaxLength();
    void timerNeverTicksWithoutInterval();
    void timerRestartsItsCount();
    void messageBoxIsPlainOk();
    void designBuildsInTwips();
    void optionsExclusivePerContainer();
    void pictureButtonShowsPictureAboveCaption();
};

void TestControls::scrollBarArrows_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("up");
    QTest::addColumn<int>("expected");

    QTest::newRow("up raises") << 10 << true << 11;
    QTest::newRow("down lowers") << 10 << false << 9;
    QTest::newRow("up at the top") << 255 << true << 255;
    QTest::newRow("down at the bottom") << 0 << false << 0;
    QTest::newRow("up from the bottom") << 0 << true << 1;
}

void TestControls::scrollBarArrows()
{
    QFETCH(int, start);
    QFETCH(bool, up);
    QFETCH(int, expected);

    VScrollBar vs(255, 0, start);
    QVERIFY(showAlone(vs, {33, 41}));
    QSignalSpy change(&vs, &VScrollBar::Change);
    QScrollBar *bar = probe::innerBar(&vs);
    QTest::mouseClick(bar, Qt::LeftButton, {}, probe::partCentre(bar, up ? QStyle::SC_ScrollBarSubLine : QStyle::SC_ScrollBarAddLine));
    QCOMPARE(vs.Value(), expected);
    QCOMPARE(change.count(), expected == start ? 0 : 1);

    // A click in the track moves by one as well.
    if (start != 255 && start != 0) {
        vs.setValue(128);
        const int before = vs.Value();
        QTest::mouseClick(bar, Qt::LeftButton, {}, probe::partCentre(bar, QStyle::SC_ScrollBarSubPage));
        QCOMPARE(vs.Value(), before + 1);
    }
}

void TestControls::scrollBarKeysAndWheelAgreeWithArrows()
{
    VScrollBar vs(255, 0, 100);
    QVERIFY(showAlone(vs, {33, 120}));
    QScrollBar *bar = probe::innerBar(&vs);
    QTest::keyClick(bar, Qt::Key_Up);
    QCOMPARE(vs.Value(), 101);
    QTest::keyClick(bar, Qt::Key_Down);
    QTest::keyClick(bar, Qt::Key_Down);
    QCOMPARE(vs.Value(), 99);

    const QPoint centre = bar->rect().center();
    QWheelEvent wheelUp(centre, bar->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton,
                        Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(bar, &wheelUp);
    QVERIFY2(vs.Value() > 99, "the wheel turned up must raise the value like the up arrow");
}

void TestControls::scrollBarAssignment_data()
{
    QTest::addColumn<int>("assigned");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("changes");

    QTest::newRow("new value") << 42 << false << 1;
    QTest::newRow("same value") << 7 << false << 0;
    QTest::newRow("top end") << 255 << false << 1;
    QTest::newRow("bottom end") << 0 << false << 1;
    QTest::newRow("256") << 256 << true << 0;
    QTest::newRow("-1") << -1 << true << 0;
    QTest::newRow("32767") << 32767 << true << 0;
}

void TestControls::scrollBarAssignment()
{
    QFETCH(int, assigned);
    QFETCH(bool, refused);
    QFETCH(int, changes);

    VScrollBar vs(255, 0, 7);
    QSignalSpy change(&vs, &VScrollBar::Change);
    QCOMPARE(vs.setValue(assigned), !refused);
    QCOMPARE(vs.Value(), refused ? 7 : assigned);
    QCOMPARE(change.count(), changes);
}

void TestControls::scrollBarDragRaisesChangeOnRelease()
{
    VScrollBar vs(255, 0, 128);
    QVERIFY(showAlone(vs, {33, 300}));
    QSignalSpy change(&vs, &VScrollBar::Change);
    QScrollBar *bar = probe::innerBar(&vs);
    const QPoint thumb = probe::partCentre(bar, QStyle::SC_ScrollBarSlider);
    QTest::mousePress(bar, Qt::LeftButton, {}, thumb);
    QMouseEvent move(QEvent::MouseMove, thumb - QPoint(0, 60), bar->mapToGlobal(thumb - QPoint(0, 60)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    QCOMPARE(change.count(), 0);
    QCOMPARE(vs.Value(), 128);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, thumb - QPoint(0, 60));
    QCOMPARE(change.count(), 1);
    QVERIFY2(vs.Value() > 128, "dragging the thumb up raises the value");
}

void TestControls::repaintsShowWhatAFullRenderShows_data()
{
    QTest::addColumn<QString>("style");
    QTest::addColumn<int>("barHeight");
    // 41 px is the designed bar: too short for a thumb in either style.
    for (const char *style : {"Fusion", "Windows"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1, designed bar").arg(style))) << QString(style) << 41;
        QTest::newRow(qPrintable(QStringLiteral("%1, bar with a thumb").arg(style))) << QString(style) << 220;
    }
}

// Only what changed is repainted, in a frame: a box, a bar, and a label over
// the frame's caption. What ends up on screen after each change is what
// drawing the whole window afresh gives.
void TestControls::repaintsShowWhatAFullRenderShows()
{
    QFETCH(QString, style);
    QFETCH(int, barHeight);
    const std::unique_ptr<QStyle> look(QStyleFactory::create(style));
    if (!look)
        QSKIP("style not built in");

    QWidget window;
    window.resize(260, 300);
    auto *frame = new FrameBox(QStringLiteral("第一段"), &window);
    frame->setGeometry(10, 10, 230, 280);
    auto *overCaption = new QLabel(frame);
    overCaption->setGeometry(4, 0, 150, 12);
    auto *box = new QLineEdit(frame);
    box->setGeometry(8, 240, 40, 37);
    auto *bar = new VScrollBar(255, 0, 10, frame);
    bar->setGeometry(120, 240 - barHeight, 33, barHeight);
    window.setStyle(look.get());
    for (QWidget *w : window.findChildren<QWidget *>())
        w->setStyle(look.get());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // The offscreen platform paints into an image, as the frames leave it.
    const auto onScreen = [&] {
        const auto *image = static_cast<const QImage *>(window.backingStore()->paintDevice());
        return image->copy(window.rect()).convertToFormat(QImage::Format_RGB32);
    };
    const auto drawnAfresh = [&] { return window.grab().toImage().convertToFormat(QImage::Format_RGB32); };
    QCOMPARE(window.backingStore()->paintDevice()->devType(), int(QInternal::Image));

    for (int value : {11, 128, 0, 1, 254, 255, 200, 10}) {
        bar->setValue(value);
        box->setText(QString::number(value));
        overCaption->setText(QString(value % 7 + 1, QLatin1Char('|')));
        QTRY_VERIFY2_WITH_TIMEOUT(onScreen() == drawnAfresh(), qPrintable(QStringLiteral("value %1").arg(value)),
                                  probe::Patience);
    }
}

void TestControls::textBoxMaxLength()
{
    Design d;
    d << textBox("TextStep1", 0).at(0, 0).size(615, 555).maxChars(3).text("5");
    QWidget window;
    auto *box = qobject_cast<QLineEdit *>(buildDesign(&window, d).value("TextStep1(0)"));
    QVERIFY(box);
    box->clear();
    QTest::keyClicks(box, "1234");
    QCOMPARE(box->text(), QString("123"));

    box->clear();
    QApplication::clipboard()->setText("98765");
    box->paste();
    QCOMPARE(box->text(), QString("987"));
}

void TestControls::timerNeverTicksWithoutInterval()
{
    Timer timer;
    QSignalSpy tick(&timer, &Timer::Tick);
    timer.setEnabled(true);
    QVERIFY(!timer.isCounting());
    QVERIFY(!tick.wait(300));
}

void TestControls::timerRestartsItsCount()
{
    constexpr int interval = 400;
    Timer timer;
    QSignalSpy tick(&timer, &Timer::Tick);
    QElapsedTimer clock;
    clock.start();
    timer.setInterval(interval);
    timer.setEnabled(true);
    QTest::qWait(250);
    const qint64 rearmed = clock.elapsed();
    timer.setInterval(interval);
    timer.setEnabled(true);
    QVERIFY(tick.wait(probe::Patience));
    // Counted from the re-arming, not from the first start.
    QVERIFY2(clock.elapsed() - rearmed >= interval - 2, qPrintable(QString::number(clock.elapsed() - rearmed)));

    timer.setEnabled(false);
    QVERIFY(!timer.isCounting());
    QVERIFY(!tick.wait(interval + 200));
    QCOMPARE(tick.count(), 1);
}

void TestControls::messageBoxIsPlainOk()
{
    probe::BoxWatcher boxes;
    // Runs just before the watcher clicks OK; MsgBox must still be waiting.
    bool answered = false;
    boxes.whileFirstOpen = [&] { answered = true; };
    MsgBox(nullptr, "Ombrix5", "資料接收區超過");
    QVERIFY2(answered, "MsgBox returned before its box was answered");
    QCOMPARE(boxes.open, 0);
    QCOMPARE(boxes.shown.size(), 1);
    const probe::ShownBox box = boxes.shown.first();
    QCOMPARE(box.title, QString("Ombrix5"));
    QCOMPARE(box.text, QString("資料接收區超過"));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
}

void TestControls::designBuildsInTwips()
{
    Design d;
    d << frame("FamCOM").at(120, 9000).size(9015, 975).text("Com Port")
      << option("OptCom2").in("FamCOM").at(1200, 360).size(975, 375).text("COM2")
      << label("LblVersion").at(11880, 4920).size(3255, 495).font(15.75).centred().bordered()
      << line("Line5", 1, 240, 240, 240, 4200);
    QWidget window;
    const auto made = buildDesign(&window, d);
    QCOMPARE(made.value("FamCOM")->geometry(), QRect(8, 600, 601, 65));
    QCOMPARE(made.value("OptCom2")->parentWidget(), made.value("FamCOM"));
    QCOMPARE(made.value("OptCom2")->geometry(), QRect(80, 24, 65, 25));
    QCOMPARE(made.value("LblVersion")->font().pointSizeF(), 15.75);
    const QFont font = made.value("LblVersion")->font();
#ifdef Q_OS_WIN
    QCOMPARE(font.families().first(), QString("新細明體"));
    QVERIFY(font.families().contains("Microsoft JhengHei")); // on every Windows, supplement or not
#else
    // The faces the install command brings: a proportional serif for Latin
    // letters and digits, the Ming face for Chinese; no Windows face is searched.
    QCOMPARE(QFontInfo(font).family(), QString("Liberation Serif"));
    QCOMPARE(QRawFont::fromFont(font, QFontDatabase::TraditionalChinese).familyName(), QString("AR PL UMing TW"));
    QVERIFY(!font.families().contains("新細明體"));
    QVERIFY(!font.families().contains("PMingLiU"));
    // Nor a face this system lacks: Qt would search for it again and again.
    for (const QString &family : font.families() + windowDefaultFont(QFont()).families())
        QVERIFY2(QFontDatabase::hasFamily(family), qPrintable(family));
    // The window's 9 pt captions are in the Ming face's own bitmaps, unsmoothed.
    const QFont windowFont = windowDefaultFont(QFont());
    QCOMPARE(QFontInfo(windowFont).family(), QString("AR PL UMing TW"));
    QVERIFY(windowFont.styleStrategy() & QFont::NoAntialias);
#endif
    // A line spans its end points, 3 pixels thick, and lets presses through.
    QWidget *line = made.value("Line5(1)");
    QCOMPARE(line->geometry(), QRect(15, 15, 3, 267));
    QVERIFY(!window.childAt(16, 100));
}

void TestControls::optionsExclusivePerContainer()
{
    Design d;
    for (int f = 1; f <= 2; ++f) {
        const QString frameKey = QString("Frame%1").arg(f);
        d << frame(frameKey).at(360 + 2040 * (f - 1), 480).size(1815, 3735);
        for (int j = 0; j < 4; ++j) {
            ControlSpec o = option("OptStep1", 4 * (f - 1) + j).in(frameKey).at(120, 360 + 600 * j).size(1455, 495);
            if (j == 2)
                o.selected();
            d << o;
        }
    }
    QWidget window;
    window.resize(400, 400);
    const auto made = buildDesign(&window, d);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto opt = [&](int item) { return qobject_cast<QRadioButton *>(made.value(QString("OptStep1(%1)").arg(item))); };
    // Click the indicator: a radio button without a caption takes no other hit.
    QTest::mouseClick(opt(3), Qt::LeftButton, {}, QPoint(8, opt(3)->height() / 2));
    QVERIFY(opt(3)->isChecked());
    QVERIFY(!opt(2)->isChecked());
    QVERIFY(opt(6)->isChecked());
    QVERIFY(!opt(7)->isChecked());
}

void TestControls::pictureButtonShowsPictureAboveCaption()
{
    Design d;
    d << button("CmdVersion").at(10680, 4680).size(1095, 1095).text("讀取版本(5)").pictured(":/version.ico");
    QWidget window;
    auto *b = qobject_cast<QToolButton *>(buildDesign(&window, d).value("CmdVersion"));
    QVERIFY(b);
    QVERIFY(!b->icon().isNull());

    // Drawn with and without caption and picture: the differences show where each is.
    const QImage both = b->grab().toImage();
    b->setText(QString());
    const QImage pictureAlone = b->grab().toImage();
    b->setIcon(QIcon());
    const QImage neither = b->grab().toImage();
    const QRect picture = changed(pictureAlone, neither);
    const QRect caption = changed(both, pictureAlone);
    QVERIFY(!picture.isEmpty());
    QVERIFY(!caption.isEmpty());

    // The 32 px picture's ink is 28 by 27 px; a smaller or larger picture
    // would show it at another size.
    QVERIFY2(picture.width() >= 24 && picture.width() <= 32 && picture.height() >= 24 && picture.height() <= 32,
             qPrintable(QStringLiteral("picture drawn %1 x %2 px").arg(picture.width()).arg(picture.height())));
    // Above the caption, with the caption running under its middle.
    QVERIFY2(picture.bottom() < caption.top(),
             qPrintable(QStringLiteral("picture ends at row %1, caption starts at row %2")
                            .arg(picture.bottom())
                            .arg(caption.top())));
    QVERIFY(caption.left() < picture.center().x() && caption.right() > picture.center().x());
}

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
