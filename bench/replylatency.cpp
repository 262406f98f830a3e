// How long after a reply's last byte the window shows it, end to end. This
// process plays the setter on a pseudo-terminal at 9600 baud; the window,
// built as main() builds it, runs in a process of its own, clicks its
// version and read buttons in turn and reports when each reply's frame was
// out. Both sides take CLOCK_MONOTONIC, so the times compare.
//
// A reply may show only once the line has been quiet for 110 ms after its
// last byte; what the receive path and the painting add to that should stay
// small. Idle, and again with a busy-loop process on every core.
//
//   bench_replylatency [-n replies] [--idle]
//
// -n: replies of each kind per window (default 40); --idle: no busy run.

#include "benchsupport.h"
#include "pty.h"
#include "replysetter.h"
#include "replywindow.h"

#include <cstdio>
#include <optional>

#include <csignal>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ombrix;
using namespace ombrix::bench;

namespace {

// The line must have been quiet this long before a reply shows.
constexpr double QuietMs = 110.0;
constexpr double MedianTargetMs = 111.0;
constexpr double MaxTargetMs = 115.0;
constexpr int DefaultReplies = 40;
// A last byte whose write took longer was written at a moment known no
// better than that: the setter thread was held up, and the reply is left out.
constexpr double HeldUpMs = 0.1;

// The replies of one kind in one window: from the last byte written to the
// end of the frame that showed the reply, and the parts of that time.
struct Cell
{
    Kind kind;
    char op;
    QList<double> total;
    QList<double> toTick; // last byte to the receive tick
    QList<double> handler; // the tick's handling
    QList<double> toFrame; // end of the tick to the frame that shows the reply
    QList<double> frame; // that frame: paint and flush
    int heldUp = 0; // replies left out

    QString label() const
    {
        return QStringLiteral("%1 %2").arg(QLatin1String(kindLabel(kind)),
                                           QLatin1String(op == 'v' ? "version" : "parameters"));
    }
};

// A busy loop on every core, for as long as the object lives.
class BusyCores
{
public:
    explicit BusyCores(int count)
    {
        for (int i = 0; i < count; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                volatile unsigned long spin = 0;
                for (;;)
                    spin = spin + 1;
            }
            if (pid > 0)
                m_pids << pid;
        }
    }
    ~BusyCores()
    {
        for (pid_t pid : std::as_const(m_pids))
            kill(pid, SIGKILL);
        for (pid_t pid : std::as_const(m_pids))
            waitpid(pid, nullptr, 0);
    }
    qsizetype count() const { return m_pids.size(); }

private:
    QList<pid_t> m_pids;
};

QList<qint64> numbers(const QString &text)
{
    QList<qint64> values;
    for (const QString &v : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        values << v.toLongLong();
    return values;
}

double ms(qint64 ns)
{
    return double(ns) / 1e6;
}

// One window process against the setter; appends its version and parameter
// cells. False when the run failed.
bool measure(Kind kind, int replies, QList<Cell> *cells, bool *realTime)
{
    PseudoTerminal pty;
    if (!pty.isValid()) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(pty.errorString()));
        return false;
    }
    Setter setter(pty, kind);
    setter.start();
    const ChildRun run = runSelf({QStringLiteral("--window"), QLatin1String(kindName(kind)), QStringLiteral("--port"),
                                  pty.slavePath(), QStringLiteral("-n"), QString::number(replies)});
    setter.stop();
    *realTime = *realTime && setter.realTime();
    const QString what = QStringLiteral("%1 window").arg(QLatin1String(kindLabel(kind)));
    if (!setter.error().isEmpty()) {
        std::fprintf(stderr, "%s: setter: %s\n", qPrintable(what), qPrintable(setter.error()));
        return false;
    }
    if (!run.ok()) {
        explainFailure(what, run);
        return false;
    }

    const QString ops = run.values.value(QStringLiteral("ops"));
    const QList<qint64> tick = numbers(run.values.value(QStringLiteral("tick")));
    const QList<qint64> handled = numbers(run.values.value(QStringLiteral("handled")));
    const QList<qint64> frame = numbers(run.values.value(QStringLiteral("frame")));
    const QList<qint64> shown = numbers(run.values.value(QStringLiteral("shown")));
    const QList<Setter::Sent> &sent = setter.sent();
    const qsizetype n = sent.size();
    if (ops.size() != n || tick.size() != n || handled.size() != n || frame.size() != n || shown.size() != n) {
        std::fprintf(stderr, "%s: %lld replies sent, the window reported %lld\n%s\n", qPrintable(what),
                     (long long)n, (long long)shown.size(), run.output.constData());
        return false;
    }

    Cell version{kind, 'v', {}, {}, {}, {}, {}, 0};
    Cell parameters{kind, 'p', {}, {}, {}, {}, {}, 0};
    for (qsizetype i = 0; i < n; ++i) {
        if (ops.at(i) != QLatin1Char(sent.at(i).op)) {
            std::fprintf(stderr, "%s: reply %lld answered the wrong command\n", qPrintable(what), (long long)i + 1);
            return false;
        }
        Cell &cell = sent.at(i).op == 'v' ? version : parameters;
        if (ms(sent.at(i).lastWrite) > HeldUpMs) {
            ++cell.heldUp;
            continue;
        }
        const qint64 last = sent.at(i).lastByte;
        cell.total << ms(shown.at(i) - last);
        cell.toTick << ms(tick.at(i) - last);
        cell.handler << ms(handled.at(i) - tick.at(i));
        cell.toFrame << ms(frame.at(i) - handled.at(i));
        cell.frame << ms(shown.at(i) - frame.at(i));
    }
    *cells << version << parameters;
    return true;
}

// Prints the table of one load and its targets; `busy` reports the maximum
// only.
void printLoad(const QList<Cell> &cells, bool busy)
{
    std::printf("  %-22s %7s %9s %9s %9s   %9s %9s %9s %9s\n", "", "replies", "min", "median", "max", "to tick",
                "handler", "to frame", "frame");
    for (const Cell &c : cells) {
        const Spread s = spread(c.total);
        std::printf("  %-22s %7lld %9.3f %9.3f %9.3f   %9.3f %9.3f %9.3f %9.3f\n", qPrintable(c.label()),
                    (long long)c.total.size(), s.min, s.median, s.max, spread(c.toTick).median,
                    spread(c.handler).median, spread(c.toFrame).median, spread(c.frame).median);
    }

    for (const Cell &c : cells) {
        if (c.total.isEmpty())
            std::printf("  %s: no reply measured, not counted in the targets\n", qPrintable(c.label()));
        if (c.heldUp)
            std::printf("  %s: %d %s left out, the setter was held up over %.1f ms writing the last byte\n",
                        qPrintable(c.label()), c.heldUp, c.heldUp == 1 ? "reply" : "replies", HeldUpMs);
    }

    QStringList early, slowMedian, slowMax;
    double worst = 0;
    for (const Cell &c : cells) {
        if (c.total.isEmpty())
            continue;
        const Spread s = spread(c.total);
        if (s.min < QuietMs)
            early << QStringLiteral("%1 min %2 ms").arg(c.label()).arg(s.min, 0, 'f', 3);
        if (s.median > MedianTargetMs)
            slowMedian << QStringLiteral("%1 median %2 ms").arg(c.label()).arg(s.median, 0, 'f', 3);
        if (s.max > MaxTargetMs)
            slowMax << QStringLiteral("%1 max %2 ms").arg(c.label()).arg(s.max, 0, 'f', 3);
        worst = qMax(worst, s.max);
    }
    const auto verdict = [](const QStringList &failed) {
        return failed.isEmpty() ? QStringLiteral("holds")
                                : QStringLiteral("NOT MET: ") + failed.join(QStringLiteral("; "));
    };
    std::printf("  target: never shown before %.1f ms: %s\n", QuietMs, qPrintable(verdict(early)));
    std::printf("  target: median <= %.1f ms, version and parameter replies: %s\n", MedianTargetMs,
                qPrintable(verdict(slowMedian)));
    if (busy)
        std::printf("  max <= %.1f ms (a target when idle; report only here): %.3f ms at most\n", MaxTargetMs, worst);
    else
        std::printf("  target: max <= %.1f ms: %s\n", MaxTargetMs, qPrintable(verdict(slowMax)));
}

} // namespace

int main(int argc, char **argv)
{
    defaultToOffscreen();
    const QStringList args = arguments(argc, argv);
    const int replies = intOption(args, QStringLiteral("-n"), DefaultReplies);

    if (args.value(0) == QLatin1String("--window")) {
        Kind kind;
        if (!parseKind(args.value(1), &kind) || kind == Kind::Bare || args.value(2) != QLatin1String("--port")
            || args.value(3).isEmpty()) {
            std::fprintf(stderr, "usage: %s --window stage|level --port <device> [-n replies]\n", argv[0]);
            return 2;
        }
        return runWindow(argc, argv, kind, args.value(3), replies);
    }

    const int cores = int(sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("reply latency, end to end: from the setter writing a reply's last byte on a pseudo-terminal\n"
                "to the end of the window's frame (paint and flush) that shows the reply\n");
    std::printf("  platform: %s\n", qPrintable(platformHeading()));
    std::printf("  setter: this process (a real-time thread where allowed), 9600 baud 8N1 pacing (%.4f ms a byte);\n"
                "  replies alternate two contents:"
                " version %lld bytes, parameters %lld bytes (Ombrix5) and %lld bytes (Ombrix3)\n",
                ms(byteDone(0, 0)), (long long)versionReply(0).size(), (long long)parameterReply(Kind::Stage, 0).size(),
                (long long)parameterReply(Kind::Level, 0).size());
    std::printf("  ms; min/median/max of the whole; then medians of its parts: last byte to the receive tick,\n"
                "  the tick's handler, its end to the frame that shows the reply, that frame\n");

    bool ran = true;
    for (const bool busy : {false, true}) {
        if (busy && args.contains(QStringLiteral("--idle")))
            break;
        std::optional<BusyCores> load;
        if (busy) {
            load.emplace(cores);
            std::printf("\nbusy: a busy-loop process on each of the %lld cores\n", (long long)load->count());
        } else {
            std::printf("\nidle\n");
        }
        std::fflush(stdout);
        QList<Cell> cells;
        bool complete = true;
        bool realTime = true;
        for (const Kind kind : {Kind::Stage, Kind::Level})
            complete = measure(kind, replies, &cells, &realTime) && complete;
        load.reset();
        if (!realTime)
            std::printf("  (the setter thread was refused real-time priority: the load may hold it up)\n");
        if (complete) {
            printLoad(cells, busy);
        } else {
            std::printf("  could not be measured (see the errors)\n");
            ran = false;
        }
        std::fflush(stdout);
    }
    return ran ? 0 : 2;
}
