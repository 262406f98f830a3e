// Drives the Windows executables under Wine on an X display, the way a
// technician would: the Wine prefix's COM2 and COM8 are pseudo-terminals
// this test plays the setter on, every other COM port is mapped to nothing.
// Clicks go through XTest, the window is read back as pixels.
//
// Needs DISPLAY (a private Xvfb), WINEPREFIX, OMBRIX_DIST (the folder of
// the two executables) and OMBRIX_SMOKE_EXPECTED (the reference crops).
// With OMBRIX_SMOKE_RECORD=1 the crops are written there instead of checked.
// OMBRIX_SMOKE_SHOTS names a folder for whole-window screenshots.

#include "bytes.h"
#include "design.h"
#include "lookup.h"
#include "leveldesign.h"
#include "patience.h"
#include "pty.h"
#include "stagedesign.h"
#include "twips.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTest>

// Xlib after Qt: its macros would break Qt's headers.
#include "xwindows.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <memory>

using namespace ombrix;

namespace {

using probe::hex;

using probe::Patience;

constexpr int WinePatience = 60000; // ms; Wine's first start of a prefix is slow

// The check byte, computed apart from the programs' own code.
QByteArray withCheck(const QByteArray &frame)
{
    return frame + char(0x5A ^ probe::xorAll(frame));
}

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(WinePatience) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("%1 %2 failed: %3").arg(program, args.join(' '), QString::fromLocal8Bit(p.readAll()));
    return QString();
}

// Where a control of a design stands in the window's client area, in pixels.
QRect placeOf(const Design &design, const QString &key)
{
    const ControlSpec *c = probe::designed(design, key);
    if (!c)
        qFatal("no control %s", qPrintable(key));
    QRect r(toPixels(c->left), toPixels(c->top), toPixels(c->width), toPixels(c->height));
    for (const ControlSpec *frame = probe::designed(design, c->parent); frame;
         frame = probe::designed(design, frame->parent))
        r.translate(toPixels(frame->left), toPixels(frame->top));
    return r;
}

// One X display, and the top-level window that Wine made for a program.
class Desktop
{
public:
    Desktop() : m_display(XOpenDisplay(nullptr)) { XSetErrorHandler(xwin::ignoreErrors); }
    ~Desktop()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool isOpen() const { return m_display; }

    // The mapped window titled exactly `title`; 0 while there is none.
    Window findWindow(const QString &title) const
    {
        return xwin::findViewable(m_display, DefaultRootWindow(m_display),
                                  [&](Window w) { return xwin::title(m_display, w) == title; });
    }

    // The titles of the mapped windows, for a failure message.
    QStringList titles() const
    {
        QStringList all;
        xwin::findViewable(m_display, DefaultRootWindow(m_display), [&](Window w) {
            const QString title = xwin::title(m_display, w);
            if (!title.isEmpty())
                all << title;
            return false;
        });
        return all;
    }

    // The whole window, frame included, on the root window.
    QRect area(Window w) const
    {
        XWindowAttributes a{};
        XGetWindowAttributes(m_display, w, &a);
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(m_display, w, DefaultRootWindow(m_display), 0, 0, &x, &y, &child);
        return QRect(x, y, a.width, a.height);
    }

    QRect root() const
    {
        return QRect(0, 0, DisplayWidth(m_display, DefaultScreen(m_display)),
                     DisplayHeight(m_display, DefaultScreen(m_display)));
    }

    // The client area of a window whose frame Wine draws: equal borders
    // left, right and below, the title bar above.
    QRect client(Window w, const QSize &size) const
    {
        const QRect whole = area(w);
        const int border = (whole.width() - size.width()) / 2;
        return QRect(whole.left() + border, whole.bottom() + 1 - border - size.height(), size.width(), size.height());
    }

    QImage grab(const QRect &r) const
    {
        XImage *xi = XGetImage(m_display, DefaultRootWindow(m_display), r.x(), r.y(), unsigned(r.width()),
                               unsigned(r.height()), AllPlanes, ZPixmap);
        if (!xi)
            return QImage();
        QImage image(r.size(), QImage::Format_RGB32);
        for (int y = 0; y < r.height(); ++y)
            for (int x = 0; x < r.width(); ++x)
                image.setPixel(x, y, QRgb(XGetPixel(xi, x, y)) | 0xff000000u);
        XDestroyImage(xi);
        return image;
    }

    void click(const QPoint &at)
    {
        XTestFakeMotionEvent(m_display, -1, at.x(), at.y(), CurrentTime);
        XSync(m_display, False);
        QTest::qWait(100); // Wine sees the pointer arrive before the press
        XTestFakeButtonEvent(m_display, 1, True, CurrentTime);
        XSync(m_display, False);
        QTest::qWait(50);
        XTestFakeButtonEvent(m_display, 1, False, CurrentTime);
        XSync(m_display, False);
    }

private:
    Display *m_display;
};

struct Program
{
    QString exe;
    QString title;
    const Design *design;
    QSize client; // the window's client area in pixels
    QByteArray reply; // a parameter reply with values unlike the defaults
    QByteArray write; // the write frame that carries them back
    QString firstTimeBox;
    bool centred; // the whole window, Wine's frame included, on the screen
};

// An area not drawn yet is one colour.
bool isBlank(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != image.pixel(0, 0))
                return false;
    return true;
}

// Whether a process other than this one has the device open.
bool heldByAnother(const QString &device)
{
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (pid == self || !pid.front().isDigit())
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot))
            if (fd.symLinkTarget() == device)
                return true;
    }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(Program)

class TestWineSmoke : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void program_data();
    void program();

private:
    QString wine(const QStringList &args) { return run(QStringLiteral("wine"), args); }
    QString mapPorts(const QString &com2, const QString &com8);
    // Waits until the area shows the reference crop `name`, or records it.
    bool shows(const QPoint &origin, const QRect &r, const QString &name, QString *why);

    std::unique_ptr<Desktop> screen;
    std::unique_ptr<QProcess> running;
    QDir dist, expected, shots;
    bool record = false;
};

void TestWineSmoke::initTestCase()
{
    for (const char *name : {"DISPLAY", "WINEPREFIX", "OMBRIX_DIST", "OMBRIX_SMOKE_EXPECTED"})
        QVERIFY2(qEnvironmentVariableIsSet(name), name);
    screen = std::make_unique<Desktop>();
    QVERIFY2(screen->isOpen(), "cannot open the X display");
    dist.setPath(qEnvironmentVariable("OMBRIX_DIST"));
    expected.setPath(qEnvironmentVariable("OMBRIX_SMOKE_EXPECTED"));
    shots.setPath(qEnvironmentVariable("OMBRIX_SMOKE_SHOTS", QDir::tempPath()));
    record = qEnvironmentVariableIntValue("OMBRIX_SMOKE_RECORD") == 1;
    if (record)
        QVERIFY(expected.mkpath(QStringLiteral(".")));
    qputenv("WINEDEBUG", "-all");
}

void TestWineSmoke::cleanup()
{
    if (running) {
        running->kill();
        running->waitForFinished(WinePatience);
        running.reset();
    }
    run(QStringLiteral("wineserver"), {QStringLiteral("-k")});
    run(QStringLiteral("wineserver"), {QStringLiteral("-w")});
}

QString TestWineSmoke::mapPorts(const QString &com2, const QString &com8)
{
    // An empty value maps a port to nothing, whatever devices this machine has.
    for (int n = 1; n <= 8; ++n) {
        const QString device = n == 2 ? com2 : n == 8 ? com8 : QString();
        const QString failed = wine({"reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", QStringLiteral("COM%1").arg(n),
                                     "/t", "REG_SZ", "/d", device, "/f"});
        if (!failed.isEmpty())
            return failed;
    }
    // The mapping is read when Wine's services start.
    return run(QStringLiteral("wineserver"), {QStringLiteral("-w")});
}

bool TestWineSmoke::shows(const QPoint &origin, const QRect &r, const QString &name, QString *why)
{
    const QString file = expected.filePath(name + QStringLiteral(".png"));
    const QRect on = r.translated(origin);
    if (record) {
        // Wait until something is drawn there and stays, then keep it.
        QImage last;
        const bool settled = QTest::qWaitFor([&] {
            const QImage now = screen->grab(on);
            const bool same = !isBlank(now) && now == last;
            last = now;
            QTest::qWait(300);
            return same;
        }, WinePatience);
        if (!settled)
            qWarning("%s never settled; keeping the last grab", qPrintable(name));
        if (!last.save(file))
            *why = QStringLiteral("cannot write %1").arg(file);
        return why->isEmpty();
    }
    const QImage want(file);
    if (want.isNull()) {
        *why = QStringLiteral("no reference crop %1 (OMBRIX_SMOKE_RECORD=1 makes it)").arg(file);
        return false;
    }
    QImage now;
    const QImage wanted = want.convertToFormat(QImage::Format_RGB32);
    if (QTest::qWaitFor([&] { return (now = screen->grab(on)) == wanted; }, Patience))
        return true;
    const QString seen = shots.filePath(name + QStringLiteral("-seen.png"));
    now.save(seen);
    *why = QStringLiteral("%1 differs from %2 (seen: %3)").arg(name, file, seen);
    return false;
}

void TestWineSmoke::program_data()
{
    QTest::addColumn<Program>("p");

    // Function 1: 200, 0, 255, 17, 99 s; function 2: 1 to 5 s; speeds high,
    // low, slow, pause, high and pause, slow, low, high, pause.
    const QByteArray stageValues = hex("c800ff1163" "0102030405" "0302010003" "0001020300");
    QTest::newRow("Ombrix5") << Program{"Ombrix5.exe", QStringLiteral("奶泡機時間參數設定 V1.3"), &stageDesign(),
                                        QSize(toPixels(15135), toPixels(10695)), withCheck(hex("03165a") + stageValues),
                                        withCheck(hex("02165a") + stageValues), "TextStep1(0)", false};
    QTest::newRow("Ombrix3") << Program{"Ombrix3.exe", QStringLiteral("時間參數設定"), &levelDesign(),
                                        QSize(toPixels(6540), toPixels(7650)), withCheck(hex("03055a2a00c7")), withCheck(hex("02055a2a00c7")), "TextHi", true};
}

void TestWineSmoke::program()
{
    QFETCH(Program, p);
    const QString tag = QFileInfo(p.exe).completeBaseName();

    PseudoTerminal com2, com8;
    QVERIFY2(com2.isValid() && com8.isValid(), qPrintable(com2.errorString() + com8.errorString()));
    const QString mapped = mapPorts(com2.slavePath(), com8.slavePath());
    QVERIFY2(mapped.isEmpty(), qPrintable(mapped));

    running = std::make_unique<QProcess>();
    // What Wine and its server print is no result of ours.
    running->setProcessChannelMode(QProcess::MergedChannels);
    running->setStandardOutputFile(QProcess::nullDevice());
    running->start(QStringLiteral("wine"), {dist.filePath(p.exe)});
    QVERIFY2(running->waitForStarted(), qPrintable(running->errorString()));

    Window w = 0;
    QVERIFY2(QTest::qWaitFor([&] { return (w = screen->findWindow(p.title)) != 0; }, WinePatience),
             qPrintable(QStringLiteral("no window titled exactly \"%1\"; titles shown: %2")
                            .arg(p.title, screen->titles().join(QStringLiteral(", ")))));
    if (p.centred && !QTest::qWaitFor([&] { return xwin::isCentred(screen->area(w), screen->root()); }, Patience)) {
        const QRect whole = screen->area(w);
        QFAIL(qPrintable(QStringLiteral("the window with its frame is at %1,%2 %3x%4 on a %5x%6 screen")
                             .arg(whole.x()).arg(whole.y()).arg(whole.width()).arg(whole.height())
                             .arg(screen->root().width()).arg(screen->root().height())));
    }
    const QPoint origin = screen->client(w, p.client).topLeft();
    auto centre = [&](const QString &key) { return placeOf(*p.design, key).center() + origin; };
    QString why;

    // The probe: only the two mapped ports stay selectable.
    QVERIFY2(shows(origin, placeOf(*p.design, "FamCOM"), tag + "-ports", &why), qPrintable(why));

    // The probe's last pass left COM8 open.
    QVERIFY(heldByAnother(com8.slavePath()));

    // Choose COM2, on the option's circle.
    const QRect com2Option = placeOf(*p.design, "OptCom2");
    screen->click(origin + QPoint(com2Option.left() + 7, com2Option.center().y()));

    struct Command
    {
        const char *button;
        QByteArray frame;
    };
    const Command commands[] = {{"CmdVersion", hex("00035a0003")},
                                {"CmdTest", hex("01035a0002")},
                                {"CmdRd", hex("03035a0000")}};
    for (const Command &c : commands) {
        screen->click(centre(c.button));
        QCOMPARE(com2.readMaster(5, Patience).toHex(' '), c.frame.toHex(' '));
    }
    // The choice closed COM8, and nothing went to it.
    QVERIFY(!heldByAnother(com8.slavePath()));
    QCOMPARE(com8.readMaster(1, 200), QByteArray());

    // A version reply shows when the line has been quiet for 110 ms.
    const QRect label = placeOf(*p.design, "LblVersion");
    const QRect labelOnScreen = label.translated(origin);
    const QImage blank = screen->grab(labelOnScreen);
    QElapsedTimer sinceLastByte;
    QVERIFY(com2.write(hex("00414243")));
    sinceLastByte.start();
    QVERIFY2(QTest::qWaitFor([&] { return screen->grab(labelOnScreen) != blank; }, Patience),
             "the version never showed");
    const qint64 shownAfter = sinceLastByte.elapsed();
    qInfo("%s: version shown %lld ms after its last byte", qPrintable(tag), shownAfter);
    QVERIFY2(shownAfter >= 110, qPrintable(QStringLiteral("shown after %1 ms").arg(shownAfter)));
    QVERIFY2(shows(origin, label, tag + "-version-ABC", &why), qPrintable(why));

    // A parameter reply fills the window; writing sends those values back.
    const QRect box = placeOf(*p.design, p.firstTimeBox).translated(origin);
    const QImage before = screen->grab(box);
    QVERIFY(com2.write(p.reply));
    QVERIFY2(QTest::qWaitFor([&] { return screen->grab(box) != before; }, Patience), "the reply never showed");
    screen->click(centre("CmdWr"));
    QCOMPARE(com2.readMaster(int(p.write.size()), Patience).toHex(' '), p.write.toHex(' '));

    const QImage whole = screen->grab(screen->area(w).intersected(screen->root()));
    QVERIFY(whole.save(shots.filePath(tag + QStringLiteral(".png"))));
    qInfo("%s: screenshot %s", qPrintable(tag), qPrintable(shots.filePath(tag + QStringLiteral(".png"))));
}

QTEST_GUILESS_MAIN(TestWineSmoke)
#include "tst_winesmoke.moc"
