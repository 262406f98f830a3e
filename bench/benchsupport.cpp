#include "benchsupport.h"

#include "floor.h"
#include "frmombrixlevel.h"
#include "frmombrixstage.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace ombrix::bench {

qint64 monotonicNs()
{
    // steady_clock is CLOCK_MONOTONIC here, the clock the parent passes on.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool parseKind(const QString &text, Kind *kind)
{
    for (Kind k : {Kind::Stage, Kind::Level, Kind::Floor, Kind::Bare}) {
        if (text == QLatin1String(kindName(k))) {
            *kind = k;
            return true;
        }
    }
    return false;
}

const char *kindName(Kind kind)
{
    switch (kind) {
    case Kind::Stage: return "stage";
    case Kind::Level: return "level";
    case Kind::Floor: return "floor";
    case Kind::Bare: return "bare";
    }
    return "?";
}

const char *kindLabel(Kind kind)
{
    switch (kind) {
    case Kind::Stage: return "Ombrix5";
    case Kind::Level: return "Ombrix3";
    case Kind::Floor: return "floor";
    case Kind::Bare: return "bare QWidget";
    }
    return "?";
}

namespace {
bool offscreenByDefault = false;
}

void defaultToOffscreen()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        offscreenByDefault = true;
    }
}

QString platformHeading()
{
    if (offscreenByDefault)
        return QStringLiteral("no DISPLAY, so QT_QPA_PLATFORM=offscreen");
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return QStringLiteral("QT_QPA_PLATFORM=%1").arg(qEnvironmentVariable("QT_QPA_PLATFORM"));
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QStringLiteral("Qt's default for WAYLAND_DISPLAY=%1").arg(qEnvironmentVariable("WAYLAND_DISPLAY"));
    return QStringLiteral("Qt's default for DISPLAY=%1").arg(qEnvironmentVariable("DISPLAY"));
}

void setupApplication(Kind kind)
{
    const QString name = QLatin1String(kind == Kind::Level ? FrmOmbrixLevel::Title : FrmOmbrixStage::Title);
    QApplication::setApplicationName(name);
}

std::unique_ptr<QWidget> createWindow(Kind kind, QtSerialControl::PortNameMapping ports, QtSerialControl **serial)
{
    const bool program = kind == Kind::Stage || kind == Kind::Level;
    auto control = program ? std::make_unique<QtSerialControl>(std::move(ports)) : nullptr;
    if (serial)
        *serial = control.get();
    switch (kind) {
    case Kind::Stage:
        return std::make_unique<FrmOmbrixStage>(std::move(control));
    case Kind::Level:
        return std::make_unique<FrmOmbrixLevel>(std::move(control));
    case Kind::Floor:
        return createFloorWindow();
    case Kind::Bare:
        break;
    }
    auto bare = std::make_unique<QWidget>();
    bare->resize(BareWidth, BareHeight);
    return bare;
}

void loadWindow(QWidget *window)
{
    if (auto *setter = qobject_cast<SetterWindow *>(window))
        setter->Form_Load();
}

FirstFrame::FirstFrame(QWidget *window, Done done)
    : m_window(window)
    , m_done(std::move(done))
{
    // On the application, so it is in place whenever show() creates the
    // QWindow and whichever way the expose comes.
    qApp->installEventFilter(this);
}

FirstFrame::~FirstFrame()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool FirstFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (m_seen)
        return false;
    if (event->type() == QEvent::Paint) {
        if (watched == m_window)
            m_painted = true;
        return false;
    }
    QWindow *handle = m_window->windowHandle();
    if (m_handling || !handle || watched != handle
        || (event->type() != QEvent::Expose && event->type() != QEvent::UpdateRequest))
        return false;
    if (!m_exposed && event->type() == QEvent::Expose && handle->isExposed())
        m_exposed = monotonicNs();
    // Handled here, to see whether it drew the window and when it was done.
    m_painted = false;
    m_handling = true;
    QCoreApplication::sendEvent(watched, event);
    m_handling = false;
    const qint64 drawn = monotonicNs();
    if (m_exposed && m_painted) {
        m_seen = true;
        qApp->removeEventFilter(this);
        m_done(m_exposed, drawn);
    }
    return true;
}

void report(const QList<QPair<QByteArray, QByteArray>> &values)
{
    QByteArray line("@ombrix-bench");
    for (const auto &v : values)
        line += ' ' + v.first + '=' + v.second;
    line += '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

namespace {

qint64 statusField(const QByteArray &text, const char *field)
{
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : text.split('\n')) {
        if (line.startsWith(key)) {
            bool ok = false;
            const qint64 v = line.mid(key.size()).simplified().split(' ').value(0).toLongLong(&ok);
            return ok ? v : -1;
        }
    }
    return -1;
}

QByteArray readProcFile(const QString &path)
{
    // /proc files report size 0, so read until the end.
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

} // namespace

qint64 procStatus(const char *field)
{
    return statusField(readProcFile(QStringLiteral("/proc/self/status")), field);
}

qint64 smapsRollup(const char *field)
{
    return statusField(readProcFile(QStringLiteral("/proc/self/smaps_rollup")), field);
}

QHash<int, ThreadSwitches> threadSwitches()
{
    QHash<int, ThreadSwitches> threads;
    const QDir dir(QStringLiteral("/proc/self/task"));
    for (const QString &tid : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray status = readProcFile(dir.filePath(tid + QStringLiteral("/status")));
        if (status.isEmpty())
            continue; // gone meanwhile
        ThreadSwitches t;
        t.name = readProcFile(dir.filePath(tid + QStringLiteral("/comm"))).trimmed().replace(' ', '_');
        t.voluntary = statusField(status, "voluntary_ctxt_switches");
        t.involuntary = statusField(status, "nonvoluntary_ctxt_switches");
        bool ok = false;
        t.runNs = readProcFile(dir.filePath(tid + QStringLiteral("/schedstat"))).split(' ').value(0).toLongLong(&ok);
        if (!ok)
            t.runNs = -1;
        threads.insert(tid.toInt(), t);
    }
    return threads;
}

ChildRun runSelf(const QStringList &args, bool passStart)
{
    ChildRun run;
    std::vector<std::string> strings;
    strings.emplace_back("/proc/self/exe");
    for (const QString &a : args)
        strings.push_back(a.toStdString());
    if (passStart) {
        strings.emplace_back("--t0");
        strings.emplace_back(32, '\0'); // filled just before the spawn
    }
    std::vector<char *> argv;
    for (std::string &s : strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        run.output = QByteArray("pipe: ") + std::strerror(errno);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);

    // The executable the parent runs, not whatever /proc/self/exe means in
    // the child.
    char exe[4096];
    const ssize_t len = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (len <= 0) {
        run.output = QByteArray("readlink /proc/self/exe: ") + std::strerror(errno);
        return run;
    }
    exe[len] = '\0';

    pid_t pid = 0;
    if (passStart)
        std::snprintf(strings.back().data(), strings.back().size(), "%lld", (long long)monotonicNs());
    const int rc = posix_spawn(&pid, exe, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        run.output = QByteArray("posix_spawn: ") + std::strerror(rc);
        return run;
    }

    char buf[4096];
    for (;;) {
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n > 0)
            run.output.append(buf, n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

    for (const QByteArray &line : run.output.split('\n')) {
        if (!line.startsWith("@ombrix-bench "))
            continue;
        for (const QByteArray &pair : line.mid(14).split(' ')) {
            const qsizetype eq = pair.indexOf('=');
            if (eq > 0)
                run.values.insert(QString::fromUtf8(pair.left(eq)), QString::fromUtf8(pair.mid(eq + 1)));
        }
    }
    return run;
}

void explainFailure(const QString &what, const ChildRun &run)
{
    std::fprintf(stderr, "%s: child failed (exit %d)%s\n%s\n", qPrintable(what), run.status,
                 run.values.isEmpty() ? ", no figures" : "", run.output.constData());
}

Spread spread(QList<double> values)
{
    Spread s;
    if (values.isEmpty())
        return s;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    s.min = values.first();
    s.max = values.last();
    auto at = [&](double q) { // linear between the two nearest ranks
        const double pos = q * double(n - 1);
        const qsizetype lo = qsizetype(pos);
        const double frac = pos - double(lo);
        return lo + 1 < n ? values.at(lo) * (1 - frac) + values.at(lo + 1) * frac : values.at(lo);
    };
    s.median = at(0.5);
    s.q1 = at(0.25);
    s.q3 = at(0.75);
    return s;
}

int intOption(const QStringList &args, const QString &name, int fallback)
{
    const qsizetype i = args.indexOf(name);
    if (i < 0 || i + 1 >= args.size())
        return fallback;
    bool ok = false;
    const int v = args.at(i + 1).toInt(&ok);
    return ok && v > 0 ? v : fallback;
}

QStringList arguments(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return args;
}

void giveUpUnlessDrawn(int ms)
{
    QTimer::singleShot(ms, qApp, [] {
        std::fprintf(stderr, "the window was never drawn\n");
        QCoreApplication::exit(3);
    });
}

} // namespace ombrix::bench
