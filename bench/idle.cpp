// CPU and wakeups while nothing happens: a fresh process builds the window
// the way main() does, shows it, lets it settle, then runs the event loop
// for a while with no input and no serial traffic. Ombrix5 and Ombrix3, with
// no port open and with one open on a pseudo-terminal nobody writes to; a
// bare QWidget as the platform's own baseline.

#include "benchsupport.h"
#include "portprobe.h"
#include "pty.h"

#include <QApplication>
#include <QEvent>
#include <QMap>
#include <QMetaEnum>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>

#include <sys/resource.h>
#include <unistd.h>

using namespace ombrix;
using namespace ombrix::bench;

namespace {

constexpr int DefaultSeconds = 10;
constexpr int SettleMs = 500;
constexpr int ChildTimeoutMs = 30000;
// A few wakeups from the platform over the whole period are fine; a
// periodic timer shows as about one per period of its own every second.
constexpr int Handful = 5;

struct Snapshot
{
    qint64 at = 0;
    qint64 cpuNs = 0; // std::clock: the kernel's exact process CPU time, to the microsecond
    rusage usage{};
    QHash<int, ThreadSwitches> threads;

    // The thread figures are read outside the CPU figures, so reading them
    // is not counted as idle CPU.
    static Snapshot take(bool start)
    {
        Snapshot s;
        if (start)
            s.threads = threadSwitches();
        s.at = monotonicNs();
        getrusage(RUSAGE_SELF, &s.usage);
        s.cpuNs = qint64(std::clock()) * (1000000000 / CLOCKS_PER_SEC);
        if (!start)
            s.threads = threadSwitches();
        return s;
    }
};

qint64 micros(const timeval &tv)
{
    return qint64(tv.tv_sec) * 1000000 + tv.tv_usec;
}

QByteArray describe(const QObject *o)
{
    QByteArray text;
    for (int depth = 0; o && depth < 3; ++depth, o = o->parent()) {
        if (!text.isEmpty())
            text += "<-";
        text += o->metaObject()->className();
        if (!o->objectName().isEmpty())
            text += '(' + o->objectName().toUtf8() + ')';
    }
    return text.replace(' ', '_').replace(',', '_');
}

// Every event the GUI thread delivers, by type, and the receivers of timer
// and socket-notifier events. The benchmark's own end timer is left out.
class EventCounter : public QObject
{
public:
    explicit EventCounter(const QObject *own) : m_own(own) {}

    QMap<QByteArray, int> types;
    QMap<QByteArray, int> timers;
    QMap<QByteArray, int> notifiers;
    int total = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_own)
            return false;
        ++total;
        const char *name = QMetaEnum::fromType<QEvent::Type>().valueToKey(event->type());
        ++types[name ? QByteArray(name) : QByteArray::number(int(event->type()))];
        if (event->type() == QEvent::Timer)
            ++timers[describe(watched)];
        else if (event->type() == QEvent::SockAct)
            ++notifiers[describe(watched)];
        return false;
    }

private:
    const QObject *m_own;
};

QByteArray joined(const QMap<QByteArray, int> &counts)
{
    QByteArray text;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        text += (text.isEmpty() ? "" : ",") + it.key() + ':' + QByteArray::number(it.value());
    return text.isEmpty() ? QByteArray("-") : text;
}

int child(int argc, char **argv, Kind kind, bool withPort, int seconds)
{
    QApplication app(argc, argv);
    setupApplication(kind);

    std::unique_ptr<PseudoTerminal> terminal;
    QtSerialControl::PortNameMapping ports; // the program's own
    if (withPort) {
        terminal = std::make_unique<PseudoTerminal>();
        if (!terminal->isValid()) {
            std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(terminal->errorString()));
            return 2;
        }
        // The probe ends on the last port and leaves it open: the adapter
        // found at start-up.
        const QString path = terminal->slavePath();
        ports = [path](int n) { return n == LastPort ? path : defaultPortName(n); };
    }
    QtSerialControl *serial = nullptr;
    std::unique_ptr<QWidget> window = createWindow(kind, ports, &serial);
    loadWindow(window.get());
    const bool open = serial && serial->PortOpen();
    if (withPort && !open) {
        std::fprintf(stderr, "the probe did not leave COM%d open on %s\n", LastPort,
                     qPrintable(terminal->slavePath()));
        return 2;
    }
    const QByteArray portState = open ? QStringLiteral("COM%1=%2").arg(serial->CommPort()).arg(serial->portName()).toUtf8()
                                      : QByteArray("none");

    QTimer endTimer;
    endTimer.setSingleShot(true);
    endTimer.setTimerType(Qt::PreciseTimer); // a coarse one may end the period 5 % early
    EventCounter counter(&endTimer);
    Snapshot before;

    QObject::connect(&endTimer, &QTimer::timeout, &app, [&] {
        const Snapshot after = Snapshot::take(false);
        app.removeEventFilter(&counter);
        QByteArray threads;
        for (auto it = after.threads.cbegin(); it != after.threads.cend(); ++it) {
            const ThreadSwitches was = before.threads.value(it.key());
            const QByteArray name = it.key() == getpid() ? QByteArray("main") : it.value().name;
            threads += (threads.isEmpty() ? "" : ",") + name + ':' + QByteArray::number(it.value().voluntary - was.voluntary)
                + '/' + QByteArray::number(it.value().involuntary - was.involuntary) + '/'
                + QByteArray::number((it.value().runNs - was.runNs) / 1e6, 'f', 2) + "ms"
                + (before.threads.contains(it.key()) ? "" : "(new)");
        }
        report({{"wall", QByteArray::number(after.at - before.at)},
                {"user", QByteArray::number(micros(after.usage.ru_utime) - micros(before.usage.ru_utime))},
                {"sys", QByteArray::number(micros(after.usage.ru_stime) - micros(before.usage.ru_stime))},
                {"cpu", QByteArray::number(after.cpuNs - before.cpuNs)},
                {"vcs", QByteArray::number(after.usage.ru_nvcsw - before.usage.ru_nvcsw)},
                {"ivcs", QByteArray::number(after.usage.ru_nivcsw - before.usage.ru_nivcsw)},
                {"events", QByteArray::number(counter.total)},
                {"timerevents", QByteArray::number(counter.types.value("Timer"))},
                {"types", joined(counter.types)},
                {"timers", joined(counter.timers)},
                {"notifiers", joined(counter.notifiers)},
                {"threads", threads},
                {"port", portState},
                {"platform", QGuiApplication::platformName().toUtf8()}});
        QCoreApplication::exit(0);
    });

    FirstFrame watch(window.get(), [&](qint64, qint64) {
        QTimer::singleShot(SettleMs, &app, [&] {
            // Queued, so the settle timer's own clean-up is not counted.
            QMetaObject::invokeMethod(
                &app,
                [&] {
                    before = Snapshot::take(true);
                    app.installEventFilter(&counter);
                    endTimer.start(seconds * 1000);
                },
                Qt::QueuedConnection);
        });
    });
    window->show();

    giveUpUnlessDrawn(ChildTimeoutMs + seconds * 1000);
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    defaultToOffscreen();

    const QStringList args = arguments(argc, argv);
    const int seconds = intOption(args, QStringLiteral("-s"), DefaultSeconds);

    if (args.value(0) == QLatin1String("--child")) {
        Kind kind;
        const QString port = args.value(2);
        if (!parseKind(args.value(1), &kind) || (port != QLatin1String("none") && port != QLatin1String("pty"))) {
            std::fprintf(stderr, "usage: %s --child stage|level|bare none|pty [-s seconds]\n", argv[0]);
            return 2;
        }
        return child(argc, argv, kind, port == QLatin1String("pty"), seconds);
    }

    struct Case
    {
        Kind kind;
        bool pty;
    };
    const Case cases[] = {{Kind::Stage, false}, {Kind::Stage, true}, {Kind::Level, false},
                          {Kind::Level, true},  {Kind::Bare, false}};

    std::printf("idle for %d s after the window is shown and settled (%d ms): CPU time (getrusage user+sys, and the\n"
                "exact process CPU clock) and wakeups (voluntary context switches of all threads, ru_nvcsw;\n"
                "1 of them is the benchmark's own end-of-period timer)\n",
                seconds, SettleMs);
    std::printf("  platform: %s\n", qPrintable(platformHeading()));
    std::printf("  %-34s %9s %9s %9s %9s %8s %8s %7s %7s\n", "", "user", "sys", "user+sys", "exact", "wakeups",
                "per s", "invol.", "timers");

    bool holds = true;
    QByteArrayList details;
    for (const Case &c : cases) {
        QStringList childArgs{QStringLiteral("--child"), QLatin1String(kindName(c.kind)),
                              QLatin1String(c.pty ? "pty" : "none"), QStringLiteral("-s"), QString::number(seconds)};
        const ChildRun run = runSelf(childArgs);
        const QString label = QStringLiteral("%1, %2").arg(QLatin1String(kindLabel(c.kind)),
                                                           QLatin1String(c.pty ? "port open on idle pty" : "no port open"));
        if (!run.ok()) {
            explainFailure(QStringLiteral("idle (%1)").arg(label), run);
            return 2;
        }
        auto value = [&](const char *key) { return run.values.value(QLatin1String(key)); };
        const double wall = value("wall").toDouble() / 1e9;
        const double user = value("user").toDouble() / 1e3;
        const double sys = value("sys").toDouble() / 1e3;
        const int wakeups = value("vcs").toInt();
        const int timers = value("timerevents").toInt();
        std::printf("  %-34s %6.1f ms %6.1f ms %6.1f ms %6.1f ms %8d %8.2f %7s %7d\n", qPrintable(label), user, sys,
                    user + sys, value("cpu").toDouble() / 1e6, wakeups, wakeups / wall, qPrintable(value("ivcs")),
                    timers);
        details << QStringLiteral("  %1 (platform %2, port %3):\n"
                                  "    events in the GUI thread: %4 (%5)\n"
                                  "    timer events by receiver: %6\n"
                                  "    socket notifier events:   %7\n"
                                  "    by thread (wakeups/involuntary switches/CPU, this CPU including reading these figures): %8")
                       .arg(label, value("platform"), value("port"), value("events"), value("types"), value("timers"),
                            value("notifiers"), value("threads"))
                       .toUtf8();
        if (c.kind != Kind::Bare && (timers > 0 || wakeups > Handful + 1))
            holds = false;
    }
    std::printf("details:\n%s\n", details.join('\n').constData());
    std::printf("target (Ombrix5 and Ombrix3: no timer fires and at most %d wakeups besides the benchmark's own in %d s): %s\n",
                Handful, seconds, holds ? "holds" : "NOT MET");
    return 0;
}
