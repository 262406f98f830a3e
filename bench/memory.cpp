// Resident memory once the window is up: VmRSS and VmHWM of a fresh process
// 500 ms after the first expose of its window, for Ombrix5, Ombrix3 and a
// bare QWidget of Ombrix5's size, each built the way main() builds a window.

#include "benchsupport.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

using namespace ombrix::bench;

namespace {

constexpr int DefaultRuns = 3;
constexpr int SettleMs = 500;
constexpr int ChildTimeoutMs = 30000;

int child(int argc, char **argv, Kind kind)
{
    QApplication app(argc, argv);
    setupApplication(kind);
    std::unique_ptr<QWidget> window = createWindow(kind);
    loadWindow(window.get());

    FirstExpose watch(window.get(), [&](qint64, qint64) {
        QTimer::singleShot(SettleMs, &app, [&] {
            QList<QPair<QByteArray, QByteArray>> values;
            for (const char *field : {"VmRSS", "VmHWM", "RssAnon", "RssFile", "RssShmem", "Threads"})
                values.append({field, QByteArray::number(procStatus(field))});
            values.append({"platform", QGuiApplication::platformName().toUtf8()});
            report(values);
            QCoreApplication::exit(0);
        });
    });
    window->show();

    giveUpUnlessExposed(ChildTimeoutMs);
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    defaultToOffscreen();

    const QStringList args = arguments(argc, argv);

    if (args.value(0) == QLatin1String("--child")) {
        Kind kind;
        if (!parseKind(args.value(1), &kind)) {
            std::fprintf(stderr, "usage: %s --child stage|level|bare\n", argv[0]);
            return 2;
        }
        return child(argc, argv, kind);
    }

    const int runs = intOption(args, QStringLiteral("-n"), DefaultRuns);
    const Kind kinds[] = {Kind::Stage, Kind::Level, Kind::Bare};
    QHash<int, QList<ChildRun>> results;
    for (int i = 0; i < runs; ++i) {
        for (Kind k : kinds) {
            const ChildRun run = runSelf({QStringLiteral("--child"), QLatin1String(kindName(k))});
            if (!run.ok()) {
                explainFailure(QStringLiteral("memory (%1)").arg(QLatin1String(kindLabel(k))), run);
                return 2;
            }
            results[int(k)] << run;
        }
    }

    std::printf("resident memory %d ms after the first expose (median of %d fresh processes; min-max)\n", SettleMs,
                runs);
    std::printf("  platform %s (%s)\n",
                qPrintable(results[int(Kind::Stage)].first().values.value(QStringLiteral("platform"))),
                qPrintable(platformHeading()));
    std::printf("  %-14s %22s %22s %10s %10s %10s %8s\n", "", "VmRSS", "VmHWM", "RssAnon", "RssFile", "RssShmem",
                "threads");
    double bareRss = 0;
    for (Kind k : {Kind::Bare, Kind::Stage, Kind::Level}) {
        auto figure = [&](const char *key, double unit = 1024.0) { // kB to MiB by default
            QList<double> values;
            for (const ChildRun &run : results[int(k)])
                values << run.values.value(QLatin1String(key)).toDouble() / unit;
            return spread(values);
        };
        const Spread rss = figure("VmRSS");
        const Spread hwm = figure("VmHWM");
        std::printf("  %-14s %6.1f MiB (%.1f-%.1f) %6.1f MiB (%.1f-%.1f) %6.1f MiB %6.1f MiB %6.1f MiB %8.0f\n",
                    kindLabel(k), rss.median, rss.min, rss.max, hwm.median, hwm.min, hwm.max, figure("RssAnon").median,
                    figure("RssFile").median, figure("RssShmem").median, figure("Threads", 1).median);
        if (k == Kind::Bare)
            bareRss = rss.median;
        else
            std::printf("  %-14s %+6.1f MiB VmRSS over the bare window\n", "", rss.median - bareRss);
    }
    return 0;
}
