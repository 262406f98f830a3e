// Start-up time: from the start of a fresh process to the first expose of
// its window, for Ombrix5's window and for a bare QWidget of the same size,
// both built the way main() builds a window. The parent takes the clock just
// before it spawns each child, so loading the program counts too.

#include "benchsupport.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

using namespace ombrix::bench;

namespace {

constexpr int DefaultRuns = 10;
constexpr int ChildTimeoutMs = 30000;

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
    FirstExpose watch(window.get(), [&](qint64 arrived, qint64 drawn) {
        report({{"main", since(entered)},
                {"app", since(appBuilt)},
                {"built", since(built)},
                {"loaded", since(loaded)},
                {"shown", since(shown ? shown : arrived)}, // still 0 if exposed within show()
                {"exposed", since(arrived)},
                {"drawn", since(drawn)},
                {"width", QByteArray::number(window->width())},
                {"height", QByteArray::number(window->height())},
                {"platform", QGuiApplication::platformName().toUtf8()}});
        QCoreApplication::exit(0);
    });
    window->show();
    shown = monotonicNs();

    giveUpUnlessExposed(ChildTimeoutMs);
    return app.exec();
}

double ms(const ChildRun &run, const char *key)
{
    return run.values.value(QLatin1String(key)).toDouble() / 1e6;
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
            std::fprintf(stderr, "usage: %s --child stage|bare --t0 <ns>\n", argv[0]);
            return 2;
        }
        return child(argc, argv, entered, kind, args.value(t0At + 1).toLongLong());
    }

    const int runs = intOption(args, QStringLiteral("-n"), DefaultRuns);
    const Kind kinds[] = {Kind::Stage, Kind::Bare};
    QHash<int, QList<ChildRun>> results;

    // One unrecorded run each first, so neither pays for a cold file cache.
    for (Kind k : kinds) {
        const ChildRun run = runSelf({QStringLiteral("--child"), QLatin1String(kindName(k))}, true);
        if (!run.ok()) {
            explainFailure(QStringLiteral("start-up warm-up (%1)").arg(QLatin1String(kindLabel(k))), run);
            return 2;
        }
    }
    // Alternating, and the order swapped every round.
    for (int i = 0; i < runs; ++i) {
        for (int j = 0; j < 2; ++j) {
            const Kind k = kinds[(i + j) % 2];
            const ChildRun run = runSelf({QStringLiteral("--child"), QLatin1String(kindName(k))}, true);
            if (!run.ok()) {
                explainFailure(QStringLiteral("start-up (%1)").arg(QLatin1String(kindLabel(k))), run);
                return 2;
            }
            results[int(k)] << run;
        }
    }

    const ChildRun &sample = results[int(Kind::Stage)].first();
    std::printf("start-up time: process start (parent's CLOCK_MONOTONIC just before spawn) to first expose of the window\n");
    std::printf("  platform %s (%s), %d fresh processes each, alternating, after 1 unrecorded run each\n",
                qPrintable(sample.values.value(QStringLiteral("platform"))), qPrintable(platformHeading()), runs);
    std::printf("  %-28s %10s %10s %10s\n", "", "min", "median", "max");

    Spread exposed[2];
    for (Kind k : kinds) {
        const QList<ChildRun> &list = results[int(k)];
        QList<double> values;
        for (const ChildRun &run : list)
            values << ms(run, "exposed");
        exposed[int(k == Kind::Bare)] = spread(values);
        const Spread s = exposed[int(k == Kind::Bare)];
        const QString label = QStringLiteral("%1 (%2 x %3)")
                                  .arg(QLatin1String(kindLabel(k)), list.first().values.value(QStringLiteral("width")),
                                       list.first().values.value(QStringLiteral("height")));
        std::printf("  %-28s %7.1f ms %7.1f ms %7.1f ms\n", qPrintable(label), s.min, s.median, s.max);
    }
    std::printf("  ratio of medians Ombrix5 / bare: %.2f\n", exposed[0].median / exposed[1].median);

    std::printf("  median time of each step, ms since process start: %10s %10s\n", "Ombrix5", "bare");
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
                 {"drawn", "first frame drawn and handed over"}};
    for (const auto &step : steps) {
        double medians[2];
        for (Kind k : kinds) {
            QList<double> values;
            for (const ChildRun &run : results[int(k)])
                values << ms(run, step.key);
            medians[int(k == Kind::Bare)] = spread(values).median;
        }
        std::printf("    %-46s %7.1f ms %7.1f ms\n", step.label, medians[0], medians[1]);
    }
    return 0;
}
