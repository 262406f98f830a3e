// How long after a version reply's last byte the window shows it: the
// receive path waits for 110 ms of quiet, and should not add much to that.
// The device is played on a pseudo-terminal.

#include "controls.h"
#include "pty.h"
#include "qtserialcontrol.h"
#include "reply.h"
#include "setterwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

using namespace ombrix;

namespace {

constexpr int Replies = 50;
constexpr double MedianSlack = 2.0; // ms past the gap the median may take
const QByteArray Reply("\x00" "V1.3", 5);
const QString Shown = QStringLiteral("V1.3");

Design linkDesign()
{
    Design d;
    d << label("LblVersion").at(3000, 240).size(3255, 495).bordered()
      << button("CmdVersion").at(600, 900).size(1095, 975)
      << button("CmdWr").at(1800, 900).size(1095, 975)
      << button("CmdRd").at(3000, 900).size(1095, 975)
      << button("CmdTest").at(4200, 900).size(1095, 975)
      << button("CmdClear").at(5400, 900).size(1095, 855).hidden()
      << frame("FamCOM").at(600, 2040).size(9015, 975);
    for (int n = 1; n <= 8; ++n)
        d << option(QStringLiteral("OptCom%1").arg(n)).in("FamCOM").at(120 + 1080 * (n - 1), 360).size(975, 375);
    d << multiText("TextRec").at(600, 3120).size(9015, 615).hidden();
    return d;
}

class LinkWindow : public SetterWindow
{
public:
    explicit LinkWindow(std::unique_ptr<SerialControl> serial)
        : SetterWindow(QStringLiteral("bench"), linkDesign(), std::move(serial))
    {
    }
    void CmdWr_Click() override {}
    Timer *rx() const { return TmrRx; }
    QLabel *version() const { return LblVersion; }

protected:
    void parameterReply(const QByteArray &) override {}
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    PseudoTerminal pty;
    if (!pty.isValid()) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(pty.errorString()));
        return 2;
    }
    const QString path = pty.slavePath();
    auto control = std::make_unique<QtSerialControl>([path](int n) { return n == 1 ? path : QString(); });
    const QtSerialControl *serial = control.get();
    LinkWindow window(std::move(control));
    window.OptCom1_Click();
    if (!serial->PortOpen()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return 2;
    }

    QElapsedTimer clock;
    clock.start();
    qint64 sentAt = 0; // ns
    QList<double> latencies;
    int failures = 0;

    auto send = [&] {
        window.version()->clear();
        if (!pty.write(Reply)) {
            std::fprintf(stderr, "write failed: %s\n", qPrintable(pty.errorString()));
            app.exit(2);
            return;
        }
        sentAt = clock.nsecsElapsed();
    };
    // Connected after the window's own handler, so the label is already set.
    QObject::connect(window.rx(), &Timer::Tick, &app, [&] {
        const double ms = double(clock.nsecsElapsed() - sentAt) / 1e6;
        if (window.version()->text() == Shown)
            latencies << ms;
        else
            ++failures;
        if (latencies.size() + failures >= Replies)
            app.quit();
        else
            QTimer::singleShot(30, &app, send); // quiet line between replies
    });
    QTimer::singleShot(0, &app, send);
    QTimer::singleShot(60000, &app, [&] {
        std::fprintf(stderr, "timed out after %d replies\n", int(latencies.size()));
        app.exit(2);
    });
    const int rc = app.exec();
    if (rc != 0)
        return rc;
    if (latencies.isEmpty()) {
        std::fprintf(stderr, "no reply was shown\n");
        return 1;
    }

    std::sort(latencies.begin(), latencies.end());
    const qsizetype n = latencies.size();
    const double median = n % 2 ? latencies.at(n / 2) : (latencies.at(n / 2 - 1) + latencies.at(n / 2)) / 2;
    const double min = latencies.first();
    const double max = latencies.last();
    std::printf("reply latency over %d replies (last byte written to version shown), gap %d ms\n",
                int(n), ReplyGap);
    std::printf("  min    %8.3f ms\n  median %8.3f ms\n  max    %8.3f ms\n", min, median, max);
    if (failures)
        std::printf("  %d ticks did not show the reply\n", failures);

    const bool early = min < ReplyGap;
    const bool slow = median > ReplyGap + MedianSlack;
    std::printf("target (never before %d ms, median within %.0f ms after it): %s\n", ReplyGap, MedianSlack,
                early || slow || failures ? "NOT MET" : "holds");
    if (early)
        std::printf("  a reply was shown before the line had been quiet for %d ms\n", ReplyGap);
    if (slow)
        std::printf("  median is %.3f ms past the gap\n", median - ReplyGap);
    return early || slow || failures ? 1 : 0;
}
