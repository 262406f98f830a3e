// Starts both programs on an X server of its own, with no window manager,
// and reads back what each told the window system about its window: the
// title a taskbar or title bar shows, whether it asks to stay off the
// taskbar, and where it stands. Then installs them as a user or a package
// would and starts each the way its desktop entry says.

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "patience.h"
#include "xwindows.h"

#include <X11/Xutil.h>

#include <sys/prctl.h>

#include <csignal>
#include <memory>

using probe::ProgramPatience;

namespace {

// Children go with this test, even when it is killed.
void dieWithParent()
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
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

// The class half of WM_CLASS, which a desktop matches against an entry's
// StartupWMClass.
QString wmClass(Display *d, Window w)
{
    XClassHint hint{};
    if (!XGetClassHint(d, w, &hint))
        return QString();
    const QString name = QString::fromLocal8Bit(hint.res_class);
    XFree(hint.res_name);
    XFree(hint.res_class);
    return name;
}

// The keys of a desktop entry's [Desktop Entry] group.
QMap<QString, QString> desktopEntry(const QString &path)
{
    QFile file(path);
    QMap<QString, QString> keys;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inGroup = false;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (inGroup && line.contains(QLatin1Char('=')))
            keys.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    }
    return keys;
}

// Runs a tool to its end in `dir`; its exit code, or -1 when it would not
// start.
int run(const QString &program, const QStringList &args, QByteArray *output, const QString &dir = QString(),
        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(dir);
    p.start(program, args);
    if (!p.waitForStarted(ProgramPatience) || !p.waitForFinished(ProgramPatience))
        return -1;
    *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The program an Exec line starts: its first argument, with the entry's
// escaping, the quoting and %% undone.
QString execProgram(QString line)
{
    line.replace(QLatin1String("\\\\"), QLatin1String("\\"));
    if (!line.startsWith(QLatin1Char('"')))
        return line.section(QLatin1Char(' '), 0, 0);
    QString program;
    for (qsizetype i = 1; i < line.size() && line.at(i) != QLatin1Char('"'); ++i) {
        if (line.at(i) == QLatin1Char('\\') && i + 1 < line.size())
            ++i;
        program += line.at(i);
    }
    return program.replace(QLatin1String("%%"), QLatin1String("%"));
}

// Where an install puts its prefix: a folder of the user's own, a package's
// DESTDIR, or a prefix relative to where cmake runs.
enum Layout { Absolute, Staged, Relative };

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
    void installedEntry_data();
    void installedEntry();

private:
    Window start(const QString &path);

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
    QVERIFY2(xvfb.waitForStarted(ProgramPatience),
             qPrintable(QStringLiteral("cannot start Xvfb (%1); on Debian it is the package xvfb, "
                                       "which scripts/install-deps.sh installs")
                            .arg(xvfb.errorString())));
    const bool spoke = QTest::qWaitFor(
        [&] { return xvfb.canReadLine() || xvfb.state() != QProcess::Running; }, ProgramPatience);
    QVERIFY2(spoke && xvfb.canReadLine(), "Xvfb never said which display it took");
    displayName = QStringLiteral(":") + QString::fromLatin1(xvfb.readLine().trimmed());

    XSetErrorHandler(xwin::ignoreErrors);
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
        if (!xvfb.waitForFinished(ProgramPatience)) {
            xvfb.kill();
            xvfb.waitForFinished(ProgramPatience);
        }
    }
}

void TestDesktop::cleanup()
{
    if (!program)
        return;
    program->kill();
    program->waitForFinished(ProgramPatience);
    if (QTest::currentTestFailed())
        qInfo("%s printed:\n%s", qPrintable(program->program()), program->readAll().constData());
    program.reset();
}

// Starts the program on the test's display; its window once it shows, 0
// (and a failed test) when it never does.
Window TestDesktop::start(const QString &path)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), displayName);
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    program = std::make_unique<QProcess>();
    program->setProcessEnvironment(env);
    program->setProcessChannelMode(QProcess::MergedChannels);
    program->setChildProcessModifier(dieWithParent);
    program->start(path, {});
    if (!program->waitForStarted(ProgramPatience)) {
        QTest::qFail(qPrintable(program->errorString()), __FILE__, __LINE__);
        return 0;
    }
    Window w = 0;
    const bool over = QTest::qWaitFor(
        [&] { return (w = windowOf(display, program->processId())) || program->state() != QProcess::Running; },
        ProgramPatience);
    if (!w)
        QTest::qFail(over ? "the program ended before it showed its window" : "the window never showed", __FILE__,
                     __LINE__);
    return w;
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

    const Window w = start(path);
    QVERIFY(w);

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

void TestDesktop::installedEntry_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("installScript");
    QTest::addColumn<int>("layout");
    QTest::addColumn<QString>("prefix");

    const struct {
        const char *name;
        Layout layout;
        const char *prefix;
    } layouts[] = {
        {"in ~/.local", Absolute, "home/.local"},
        {"staged for /usr/local", Staged, "/usr/local"},
        {"relative prefix", Relative, "rel"},
        {"prefix with a space", Absolute, "my programs"},
        {"prefix with quotes, % and $", Absolute, "it's 100% \"$ours\" `x`"},
    };
    const struct {
        const char *name;
        const char *script;
    } programs[] = {{"Ombrix5", OMBRIX5_INSTALL}, {"Ombrix3", OMBRIX3_INSTALL}};
    for (const auto &p : programs) {
        for (const auto &l : layouts)
            QTest::addRow("%s %s", p.name, l.name) << QString::fromLatin1(p.name) << QString::fromLatin1(p.script)
                                                   << int(l.layout) << QString::fromUtf8(l.prefix);
    }
}

// What installing leaves is a desktop entry that validates, names the
// installed program by a path that works without PATH, an icon that is
// there, and the window class the program's window really carries. The
// program's own install script runs, as `cmake --install` runs it, but
// without writing the build's record of installed files.
void TestDesktop::installedEntry()
{
    QFETCH(QString, program);
    QFETCH(QString, installScript);
    QFETCH(int, layout);
    QFETCH(QString, prefix);
    QVERIFY(display);

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString root; // where the prefix really is on this disk
    if (layout == Staged) {
        root = scratch.filePath(QStringLiteral("stage"));
        env.insert(QStringLiteral("DESTDIR"), root);
    } else if (layout == Absolute) {
        prefix = scratch.filePath(prefix);
    }
    QByteArray output;
    QCOMPARE(run(QStringLiteral(OMBRIX_CMAKE),
                 {"-DCMAKE_INSTALL_PREFIX=" + prefix, "-DCMAKE_INSTALL_DO_STRIP=1", "-P", installScript}, &output,
                 scratch.path(), env),
             0);
    if (layout == Relative) // from where the install ran
        prefix = scratch.filePath(prefix);

    const QString entryPath = root + prefix + QStringLiteral("/share/applications/") + program.toLower()
        + QStringLiteral(".desktop");
    const int valid = run(QStringLiteral("desktop-file-validate"), {entryPath}, &output);
    QVERIFY2(valid != -1, "desktop-file-validate did not run; on Debian it is the package desktop-file-utils, "
                          "which scripts/install-deps.sh installs");
    QVERIFY2(valid == 0 && output.trimmed().isEmpty(), output.constData());

    const QMap<QString, QString> entry = desktopEntry(entryPath);
    const QString exec = execProgram(entry.value(QStringLiteral("Exec")));
    QCOMPARE(exec, prefix + QStringLiteral("/bin/") + program);
    QVERIFY(QFileInfo(root + exec).isExecutable());
    const QString icon = entry.value(QStringLiteral("Icon"));
    for (const char *size : {"48x48", "256x256"})
        QVERIFY2(QFileInfo::exists(root + prefix + QStringLiteral("/share/icons/hicolor/%1/apps/%2.png")
                                                   .arg(QLatin1String(size), icon)),
                 size);

    const Window w = start(root + exec);
    QVERIFY(w);
    QCOMPARE(wmClass(display, w), entry.value(QStringLiteral("StartupWMClass")));
}

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"
