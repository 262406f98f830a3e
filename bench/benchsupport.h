#pragma once

// Shared by the start-up and idle benchmarks: each runs itself as a fresh
// child process per measurement, the child builds one window the way the
// program's main() does and reports its figures on one line of output.

#include "qtserialcontrol.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QWidget;

namespace ombrix::bench {

qint64 monotonicNs();

// The window a child builds: one of the programs', the floor (floor.h) or a
// bare QWidget that draws nothing but its background.
enum class Kind { Stage, Level, Floor, Bare };
bool parseKind(const QString &text, Kind *kind);
const char *kindName(Kind kind);  // "stage", "level", "floor", "bare"
const char *kindLabel(Kind kind); // "Ombrix5", "Ombrix3", "floor", "bare QWidget"

// Size the bare window gets: Ombrix5's client area.
constexpr int BareWidth = 1009;
constexpr int BareHeight = 713;

// With no display the children use the offscreen platform, as the tests do.
// Call before any QApplication exists, in parent and child alike.
void defaultToOffscreen();
// The platform the children will use, for the heading.
QString platformHeading();

// The QApplication set-up of main(): the names of Ombrix5 for the floor and
// the bare window.
void setupApplication(Kind kind);
// The window as main() builds it; a null ports mapping means the program's
// own device names. *serial, when given, gets the window's serial control
// (null for the bare window).
std::unique_ptr<QWidget> createWindow(Kind kind, QtSerialControl::PortNameMapping ports = {},
                                      QtSerialControl **serial = nullptr);
// Form_Load for the two programs, nothing for the others.
void loadWindow(QWidget *window);

// Watches the whole application for the window's first frame: the first
// expose or update request of its QWindow whose handling painted the window
// and handed the frame to the window system (the backing store's flush
// comes before that handling returns). `done` gets the time the first
// expose arrived and the time that frame was out, both from monotonicNs().
class FirstFrame : public QObject
{
public:
    using Done = std::function<void(qint64 exposed, qint64 drawn)>;
    FirstFrame(QWidget *window, Done done);
    ~FirstFrame() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    Done m_done;
    qint64 m_exposed = 0;
    bool m_painted = false;
    bool m_handling = false;
    bool m_seen = false;
};

// A child's figures: one line "@ombrix-bench key=value key=value ...".
// Values must hold no blanks.
void report(const QList<QPair<QByteArray, QByteArray>> &values);

// A field of /proc/self/status as a number (kB for the Vm and Rss ones);
// -1 when missing.
qint64 procStatus(const char *field);
// A field of /proc/self/smaps_rollup in kB (Rss, Pss, Private_Dirty ...);
// -1 when missing.
qint64 smapsRollup(const char *field);

// Every thread of this process: its name, its context switches and the CPU
// time it has run so far.
struct ThreadSwitches
{
    QByteArray name;
    qint64 voluntary = 0;
    qint64 involuntary = 0;
    qint64 runNs = 0; // from schedstat; -1 without it
};
QHash<int, ThreadSwitches> threadSwitches();

// Runs this program again with `args`; with `passStart`, "--t0 <ns>" is
// appended, monotonicNs() taken just before the spawn. Output and errors of
// the child are collected together.
struct ChildRun
{
    int status = -1; // exit code, or -1 when it did not exit normally
    QByteArray output;
    QHash<QString, QString> values; // from its report line
    bool ok() const { return status == 0 && !values.isEmpty(); }
};
ChildRun runSelf(const QStringList &args, bool passStart = false);
// Prints what a failed child said, to stderr.
void explainFailure(const QString &what, const ChildRun &run);

struct Spread
{
    double min = 0, median = 0, max = 0;
    double q1 = 0, q3 = 0; // quartiles
};
Spread spread(QList<double> values);

// The command line without the program's name.
QStringList arguments(int argc, char **argv);

// A child whose window never draws ends with status 3 after `ms`.
void giveUpUnlessDrawn(int ms);

// "-n 10" style option of the parent; `fallback` when absent.
int intOption(const QStringList &args, const QString &name, int fallback);

} // namespace ombrix::bench
