// Start-up time and memory of fresh processes: from the start of the
// process to the first frame of its window drawn and handed to the window
// system, then what the process holds in memory once the window is up. For
// Ombrix5 and Ombrix3, for the floor (Ombrix5's window as plain widgets)
// and for a bare QWidget, each built the way main() builds a window. The
// parent takes the clock just before it spawns each child, so loading the
// program counts too.

#include "benchsupport.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

using namespace ombrix::bench;

namespace {

constexpr int DefaultRuns = 20;
constexpr int SettleMs = 500;
constexpr int ChildTimeoutMs = 30000;
constexpr double StartTarget = 0.95;  // Ombrix5's median start over the floor's
constexpr double MemoryTarget = 0.97; // Ombrix5's median resident over the floor's

const Kind Kinds[] = {Kind::Stage, Kind::Level, Kind::Floor, Kind::Bare};

int child(int argc, char **argv, qint64 entered, Kind kind, qint64 t0)
{
    auto since = [t0](qint64 t) { return QByteArray::number(t - t0); };

    QApplication app(argc, argv);
    setupApplication(kind);
    const qint64 appBuilt = monotonicNs();

    std::unique_ptr<QWidget> window = createWindow(kind);
    const qint64 built = monotonicNs();
    loadWindow(window.get());
    const qint64 loaded = monotonicNs();

    qint64 shown = 0;
    QList<QPair<QByteArray, QByteArray>> values;
    FirstFrame watch(window.get(), [&](qint64 exposed, qint64 drawn) {
        values = {{"main", since(entered)},
                  {"app", since(appBuilt)},
                  {"built", since(built)},
                  {"loaded", since(loaded)},
                  {"shown", since(shown ? shown : exposed)}, // still 0 if drawn within show()
                  {"exposed", since(exposed)},
                  {"drawn", since(drawn)},
                  {"width", QByteArray::number(window->width())},
                  {"height", QByteArray::number(window->height())},
                  {"platform", QGuiApplication::platformName().toUtf8()}};
        // Memory once the window has settled, as the operator finds it.
        QTimer::singleShot(SettleMs, &app, [&] {
            for (const char *field : {"VmRSS", "VmHWM", "RssAnon", "RssFile", "Threads"})
                values.append({field, QByteArray::number(procStatus(field))});
            for (const char *field : {"Pss", "Private_Dirty", "Private_Clean"})
                values.append({field, QByteArray::number(smapsRollup(field))});
            report(values);
            QCoreApplication::exit(0);
        });
    });
    window->show();
    shown = monotonicNs();

    giveUpUnlessDrawn(ChildTimeoutMs);
    return app.exec();
}

// One figure of every run of a kind, scaled.
QList<double> figures(const QList<ChildRun> &runs, const char *key, double scale)
{
    QList<double> values;
    for (const ChildRun &run : runs)
        values << run.values.value(QLatin1String(key)).toDouble() / scale;
    return values;
}

const char *verdict(bool holds)
{
    return holds ? "holds" : "NOT MET";
}

} // namespace

int main(int argc, char **argv)
{
    const qint64 entered = monotonicNs();
    defaultToOffscreen();

    const QStringList args = arguments(argc, argv);

    if (args.value(0) == QLatin1String("--child")) {
        Kind kind;
        const qsizetype t0At = args.indexOf(QStringLiteral("--t0"));
        if (!parseKind(args.value(1), &kind) || t0At < 0) {
            std::fprintf(stderr, "usage: %s --child stage|level|floor|bare --t0 <ns>\n", argv[0]);
            return 2;
        }
        return child(argc, argv, entered, kind, args.value(t0At + 1).toLongLong());
    }

    const int runs = intOption(args, QStringLiteral("-n"), DefaultRuns);
    constexpr int kindCount = int(std::size(Kinds));
    QHash<int, QList<ChildRun>> results;
    auto runChild = [&](Kind k, bool record) {
        const ChildRun run = runSelf({QStringLiteral("--child"), QLatin1String(kindName(k))}, true);
        if (!run.ok()) {
            explainFailure(QStringLiteral("start-up (%1)").arg(QLatin1String(kindLabel(k))), run);
            return false;
        }
        if (record)
            results[int(k)] << run;
        return true;
    };

    // One unrecorded run each first, so none pays for a cold file cache.
    for (Kind k : Kinds)
        if (!runChild(k, false))
            return 2;
    // Interleaved, the order turned by one every round, so that a slow spell
    // of the machine falls on all alike.
    for (int i = 0; i < runs; ++i)
        for (int j = 0; j < kindCount; ++j)
            if (!runChild(Kinds[(i + j) % kindCount], true))
                return 2;

    const QHash<QString, QString> &sample = results[int(Kind::Stage)].first().values;
    std::printf("start-up: process start (the parent's CLOCK_MONOTONIC just before the spawn) to the window's\n"
                "first frame drawn and flushed to the window system\n");
    std::printf("  platform %s (%s), %d fresh processes each, interleaved, after 1 unrecorded run each\n",
                qPrintable(sample.value(QStringLiteral("platform"))), qPrintable(platformHeading()), runs);
    std::printf("  %-24s %9s %9s %9s %9s %9s %8s %8s\n", "ms", "min", "q1", "median", "q3", "max", "/floor",
                "/bare");
    auto medianOf = [&](Kind k, const char *key, double scale) {
        return spread(figures(results[int(k)], key, scale)).median;
    };
    const double floorStart = medianOf(Kind::Floor, "drawn", 1e6);
    const double bareStart = medianOf(Kind::Bare, "drawn", 1e6);
    for (Kind k : Kinds) {
        const Spread s = spread(figures(results[int(k)], "drawn", 1e6));
        const QHash<QString, QString> &first = results[int(k)].first().values;
        const QString label = QStringLiteral("%1 (%2 x %3)")
                                  .arg(QLatin1String(kindLabel(k)), first.value(QStringLiteral("width")),
                                       first.value(QStringLiteral("height")));
        std::printf("  %-24s %9.1f %9.1f %9.1f %9.1f %9.1f %8.2f %8.2f\n", qPrintable(label), s.min, s.q1, s.median,
                    s.q3, s.max, s.median / floorStart, s.median / bareStart);
    }
    const double startRatio = medianOf(Kind::Stage, "drawn", 1e6) / floorStart;
    std::printf("  target: Ombrix5's median at most %.2f x the floor's: %s (%.2f)\n", StartTarget,
                verdict(startRatio <= StartTarget), startRatio);

    std::printf("  median of each step, ms since process start: %10s %10s %10s %10s\n", "Ombrix5", "Ombrix3",
                "floor", "bare");
    const struct
    {
        const char *key;
        const char *label;
    } steps[] = {{"main", "main() entered"},
                 {"app", "QApplication built"},
                 {"built", "window built"},
                 {"loaded", "Form_Load done (port probe)"},
                 {"shown", "show() returned"},
                 {"exposed", "first expose"},
                 {"drawn", "first frame drawn and flushed"}};
    for (const auto &step : steps) {
        std::printf("    %-42s", step.label);
        for (Kind k : Kinds)
            std::printf(" %7.1f ms", medianOf(k, step.key, 1e6));
        std::printf("\n");
    }

    std::printf("\nmemory %d ms after the first frame, MiB (median of the same processes; min-max)\n", SettleMs);
    std::printf("  resident: VmRSS, every page in memory, the shared ones (fonts, Qt's code) included\n"
                "  private:  Private_Dirty, the pages this process wrote (heap, stacks, images, glyph caches,\n"
                "            relocated data), which no other program shares\n");
    std::printf("  %-14s %20s %8s %8s %20s %8s %8s %8s %8s\n", "", "resident", "/floor", "/bare", "private",
                "/floor", "/bare", "peak", "threads");
    const double floorRss = medianOf(Kind::Floor, "VmRSS", 1024);
    const double bareRss = medianOf(Kind::Bare, "VmRSS", 1024);
    const double floorPrivate = medianOf(Kind::Floor, "Private_Dirty", 1024);
    const double barePrivate = medianOf(Kind::Bare, "Private_Dirty", 1024);
    for (Kind k : Kinds) {
        const Spread rss = spread(figures(results[int(k)], "VmRSS", 1024));
        const Spread own = spread(figures(results[int(k)], "Private_Dirty", 1024));
        std::printf("  %-14s %6.1f (%5.1f-%5.1f) %8.2f %8.2f %6.1f (%5.1f-%5.1f) %8.2f %8.2f %8.1f %8.0f\n",
                    kindLabel(k), rss.median, rss.min, rss.max, rss.median / floorRss, rss.median / bareRss,
                    own.median, own.min, own.max, own.median / floorPrivate, own.median / barePrivate,
                    medianOf(k, "VmHWM", 1024), medianOf(k, "Threads", 1));
    }
    const double memoryRatio = medianOf(Kind::Stage, "VmRSS", 1024) / floorRss;
    std::printf("  target: Ombrix5's median resident at most %.2f x the floor's: %s (%.2f)\n", MemoryTarget,
                verdict(memoryRatio <= MemoryTarget), memoryRatio);
    return 0;
}
