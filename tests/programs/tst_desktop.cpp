// Starts both programs on an X server of its own, with no window manager,
// and reads back what each told the window system about its window: the
// title a taskbar or title bar shows, whether it asks to stay off the
// taskbar, and where it stands.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>

#include "xwindows.h"

#include <X11/Xutil.h>

#include <sys/prctl.h>

#include <csignal>
#include <memory>

namespace {

constexpr int Patience = 30000; // ms

// Children go with this test, even when it is killed.
void dieWithParent()
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
}

// A window may go away while it is looked at.
int ignoreErrors(Display *, XErrorEvent *)
{
    return 0;
}

QList<Atom> atoms(Display *d, Window w, const char *name)
{
    const QByteArray raw = xwin::property(d, w, name, XA_ATOM, 32);
    const auto *a = reinterpret_cast<const Atom *>(raw.constData());
    return QList<Atom>(a, a + raw.size() / qsizetype(sizeof(Atom)));
}

// WM_NAME in whatever encoding the client chose (compound text for Chinese).
QString wmName(Display *d, Window w)
{
    XTextProperty text{};
    if (!XGetWMName(d, w, &text) || !text.value)
        return QString();
    char **list = nullptr;
    int count = 0;
    QString name;
    if (Xutf8TextPropertyToTextList(d, &text, &list, &count) >= Success && count > 0)
        name = QString::fromUtf8(list[0]);
    if (list)
        XFreeStringList(list);
    XFree(text.value);
    return name;
}

// The viewable window that process `pid` made, 0 while there is none.
Window windowOf(Display *d, qint64 pid)
{
    return xwin::findViewable(d, DefaultRootWindow(d), [&](Window w) {
        const QByteArray owner = xwin::property(d, w, "_NET_WM_PID", XA_CARDINAL, 32);
        return owner.size() == sizeof(long) && *reinterpret_cast<const long *>(owner.constData()) == pid;
    });
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void window_data();
    void window();

private:
    QProcess xvfb;
    QString displayName;
    Display *display = nullptr;
    std::unique_ptr<QProcess> program;
};

void TestDesktop::initTestCase()
{
    // -displayfd: the server picks a free display and writes its number once
    // it takes connections.
    xvfb.setChildProcessModifier(dieWithParent);
    xvfb.setStandardErrorFile(QProcess::nullDevice());
    xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
    QVERIFY2(xvfb.waitForStarted(Patience),
             qPrintable(QStringLiteral("cannot start Xvfb (%1); on Debian it is the package xvfb, "
                                       "which scripts/install-deps.sh installs")
                            .arg(xvfb.errorString())));
    const QDeadlineTimer deadline(Patience);
    while (!xvfb.canReadLine() && xvfb.state() == QProcess::Running && !deadline.hasExpired())
        xvfb.waitForReadyRead(int(deadline.remainingTime()));
    QVERIFY2(xvfb.canReadLine(), "Xvfb never said which display it took");
    displayName = QStringLiteral(":") + QString::fromLatin1(xvfb.readLine().trimmed());

    XSetErrorHandler(ignoreErrors);
    display = XOpenDisplay(displayName.toLatin1().constData());
    QVERIFY2(display, qPrintable(QStringLiteral("cannot open display %1").arg(displayName)));
}

void TestDesktop::cleanupTestCase()
{
    if (display)
        XCloseDisplay(display);
    display = nullptr;
    if (xvfb.state() != QProcess::NotRunning) {
        xvfb.terminate();
        if (!xvfb.waitForFinished(Patience)) {
            xvfb.kill();
            xvfb.waitForFinished(Patience);
        }
    }
}

void TestDesktop::cleanup()
{
    if (!program)
        return;
    program->kill();
    program->waitForFinished(Patience);
    if (QTest::currentTestFailed())
        qInfo("%s printed:\n%s", qPrintable(program->program()), program->readAll().constData());
    program.reset();
}

void TestDesktop::window_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("offTaskbar");
    QTest::addColumn<bool>("centred");

    QTest::newRow("Ombrix5") << QStringLiteral(OMBRIX5_PROGRAM) << QStringLiteral("奶泡機時間參數設定 V1.3") << false
                             << false;
    QTest::newRow("Ombrix3") << QStringLiteral(OMBRIX3_PROGRAM) << QStringLiteral("時間參數設定") << true << true;
}

void TestDesktop::window()
{
    QFETCH(QString, path);
    QFETCH(QString, title);
    QFETCH(bool, offTaskbar);
    QFETCH(bool, centred);
    QVERIFY(display);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), displayName);
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    program = std::make_unique<QProcess>();
    program->setProcessEnvironment(env);
    program->setProcessChannelMode(QProcess::MergedChannels);
    program->setChildProcessModifier(dieWithParent);
    program->start(path, {});
    QVERIFY2(program->waitForStarted(Patience), qPrintable(program->errorString()));

    Window w = 0;
    const QDeadlineTimer deadline(Patience);
    while (!(w = windowOf(display, program->processId()))) {
        QVERIFY2(program->state() == QProcess::Running, "the program ended before it showed its window");
        QVERIFY2(!deadline.hasExpired(), "the window never showed");
        QTest::qWait(20);
    }

    // Everything below is set before the window is mapped.
    QCOMPARE(xwin::title(display, w), title);
    QCOMPARE(wmName(display, w), title);

    const Atom skip = XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False);
    QCOMPARE(atoms(display, w, "_NET_WM_STATE").contains(skip), offTaskbar);

    if (centred) {
        // With no window manager there is no frame and no work area.
        XWindowAttributes a{};
        QVERIFY(XGetWindowAttributes(display, w, &a));
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(display, w, DefaultRootWindow(display), 0, 0, &x, &y, &child);
        const QRect at(x, y, a.width, a.height);
        const QRect screen(0, 0, DisplayWidth(display, DefaultScreen(display)),
                           DisplayHeight(display, DefaultScreen(display)));
        QVERIFY2(xwin::isCentred(at, screen), qPrintable(QStringLiteral("window at %1,%2 %3x%4 on a %5x%6 screen")
                                                       .arg(at.x()).arg(at.y()).arg(at.width()).arg(at.height())
                                                       .arg(screen.width()).arg(screen.height())));
    }
}

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"
