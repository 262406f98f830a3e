#include "replywindow.h"

#include "controls.h"
#include "portprobe.h"
#include "replysetter.h"
#include "reply.h"

#include <QApplication>
#include <QBackingStore>
#include <QEvent>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace ombrix::bench {

namespace {

constexpr int SettleMs = 500;
// Quiet time between a shown reply and the next command.
constexpr int PauseMs = 50;
// A reply not shown by then is lost.
constexpr int ReplyTimeoutMs = 3000;
constexpr int ExposeTimeoutMs = 30000;

// Clicks through the replies and times them. Frames are timed on the
// top-level widget's update request, which Qt 6.4 posts to the widget, and
// on the QWindow's, where other versions and platforms deliver it: the
// request is handled here and timed around, so its end is the end of the
// frame, paint and backing-store flush. A frame shows the reply when every
// box, option and label whose text or check the reply changes has been
// painted holding it, and what the frames left in the backing store is what
// a full render of the window gives. The second covers the bars, whose
// pixels change only where there is room for a thumb.
class ReplyWatch : public QObject
{
public:
    ReplyWatch(QWidget *window, Kind kind, int replies);

    void start();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A control the reply changes and how to tell it holds the reply.
    using Shows = std::function<bool()>;

    template <typename T> T *control(const QString &name) const;
    void watch(QWidget *w);
    void next();
    void expectVersion(int n);
    void expectStage(int n);
    void expectLevel(int n);
    void expectBox(const QString &name, int value);
    bool timed(QObject *watched, QEvent *event, qint64 *began, qint64 *ended);
    bool onScreen() const;
    void finish();

    QWidget *m_window;
    Kind m_kind;
    int m_replies;
    int m_index = -1;
    QToolButton *m_version;
    QToolButton *m_read;
    QObject *m_rxTimer;
    QHash<QObject *, Shows> m_pending;
    bool m_armed = false;
    bool m_inside = false; // handling a timed event
    bool m_inFrame = false;
    qint64 m_tick = 0;
    qint64 m_handled = 0;
    QByteArray m_ops;
    QList<qint64> m_ticks, m_handledAt, m_frames, m_shown;
    QTimer m_lost;
};

template <typename T> T *ReplyWatch::control(const QString &name) const
{
    T *w = m_window->findChild<T *>(name);
    if (!w) {
        std::fprintf(stderr, "no control %s in the window\n", qPrintable(name));
        std::exit(2);
    }
    return w;
}

ReplyWatch::ReplyWatch(QWidget *window, Kind kind, int replies)
    : m_window(window)
    , m_kind(kind)
    , m_replies(replies)
    , m_version(control<QToolButton>(QStringLiteral("CmdVersion")))
    , m_read(control<QToolButton>(QStringLiteral("CmdRd")))
    , m_rxTimer(control<Timer>(QStringLiteral("TmrRx"))->findChild<QTimer *>())
{
    m_lost.setSingleShot(true);
    connect(&m_lost, &QTimer::timeout, this, [this] {
        std::fprintf(stderr,
                     "reply %d (%s) was not shown within %d ms: %d controls not painted with it%s\n", m_index + 1,
                     m_index % 2 ? "parameters" : "version", ReplyTimeoutMs, int(m_pending.size()),
                     m_handled ? "" : ", no receive tick");
        QCoreApplication::exit(3);
    });
}

void ReplyWatch::start()
{
    m_window->installEventFilter(this);
    m_window->windowHandle()->installEventFilter(this);
    m_rxTimer->installEventFilter(this);
    next();
}

void ReplyWatch::watch(QWidget *w)
{
    w->installEventFilter(this);
}

void ReplyWatch::next()
{
    if (++m_index == 2 * m_replies) {
        finish();
        return;
    }
    m_pending.clear();
    m_tick = m_handled = 0;
    const int n = m_index / 2;
    const bool version = m_index % 2 == 0;
    if (version)
        expectVersion(n);
    else if (m_kind == Kind::Stage)
        expectStage(n);
    else
        expectLevel(n);
    m_ops += version ? 'v' : 'p';
    m_armed = true;
    m_lost.start(ReplyTimeoutMs);
    (version ? m_version : m_read)->click();
}

void ReplyWatch::expectVersion(int n)
{
    auto *label = control<QLabel>(QStringLiteral("LblVersion"));
    const QString text = versionText(versionReply(n), int(versionReply(n).size()));
    watch(label);
    m_pending.insert(label, [label, text] { return label->text() == text; });
}

void ReplyWatch::expectBox(const QString &name, int value)
{
    auto *box = control<QLineEdit>(name);
    const QString text = QString::number(value);
    watch(box);
    m_pending.insert(box, [box, text] { return box->text() == text; });
}

void ReplyWatch::expectStage(int n)
{
    const StageProgramme &set = StageSets[n % 2];
    for (int f = 0; f < FunctionCount; ++f) {
        for (int k = 1; k <= StageCount; ++k) {
            const StageSetting &stage = set[f][k - 1];
            expectBox(QStringLiteral("TextStep%1(%2)").arg(k).arg(f), stage.time);
            // The option the reply selects, and the one it clears.
            const int chosen = itemOfSpeedCode(stage.speed, f);
            for (int j = 0; j < SpeedOptionsPerStage; ++j) {
                const int item = f * SpeedOptionsPerStage + j;
                auto *option = control<QRadioButton>(QStringLiteral("OptStep%1(%2)").arg(k).arg(item));
                if (item == chosen) {
                    watch(option);
                    m_pending.insert(option, [option] { return option->isChecked(); });
                } else if (option->isChecked()) {
                    watch(option);
                    m_pending.insert(option, [option] { return !option->isChecked(); });
                }
            }
        }
    }
}

void ReplyWatch::expectLevel(int n)
{
    const LevelRecord &set = LevelSets[n % 2];
    const QPair<const char *, int> pairs[] = {
        {"Hi", set.HighSeconds}, {"Stop", set.StopSeconds}, {"Lo", set.LowSeconds}};
    for (const auto &pair : pairs)
        expectBox(QStringLiteral("Text%1").arg(QLatin1String(pair.first)), pair.second);
}

// Delivers the event itself, past this filter, and times its handling.
bool ReplyWatch::timed(QObject *watched, QEvent *event, qint64 *began, qint64 *ended)
{
    m_inside = true;
    *began = monotonicNs();
    QCoreApplication::sendEvent(watched, event);
    *ended = monotonicNs();
    m_inside = false;
    return true;
}

bool ReplyWatch::onScreen() const
{
    // Raster backing stores, offscreen and X11 among them, paint into an
    // image; elsewhere the painted controls have to do.
    const QPaintDevice *device = m_window->backingStore() ? m_window->backingStore()->paintDevice() : nullptr;
    if (!device || device->devType() != QInternal::Image)
        return true;
    const QImage full = m_window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage live = static_cast<const QImage *>(device)->copy(QRect(QPoint(0, 0), full.size()));
    return live.convertToFormat(QImage::Format_RGB32) == full;
}

bool ReplyWatch::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::Paint:
        // Only what a frame paints counts, not the renders onScreen() makes.
        if (m_armed && m_inFrame) {
            const auto it = m_pending.constFind(watched);
            if (it != m_pending.cend() && it.value()())
                m_pending.erase(it);
        }
        return false;
    case QEvent::Timer:
        if (watched != m_rxTimer || m_inside || !m_armed)
            return false;
        return timed(watched, event, &m_tick, &m_handled);
    case QEvent::UpdateRequest: {
        // The QWindow may hand its request on to the widget: timed once,
        // around the outer one.
        if ((watched != m_window && watched != m_window->windowHandle()) || m_inside)
            return false;
        qint64 began = 0, ended = 0;
        m_inFrame = true;
        timed(watched, event, &began, &ended);
        m_inFrame = false;
        if (m_armed && m_pending.isEmpty() && m_handled && onScreen()) {
            m_armed = false;
            m_lost.stop();
            m_ticks << m_tick;
            m_handledAt << m_handled;
            m_frames << began;
            m_shown << ended;
            QTimer::singleShot(PauseMs, this, &ReplyWatch::next);
        }
        return true;
    }
    default:
        return false;
    }
}

void ReplyWatch::finish()
{
    const auto joined = [](const QList<qint64> &values) {
        QByteArray text;
        for (qint64 v : values)
            text += (text.isEmpty() ? "" : ",") + QByteArray::number(v);
        return text;
    };
    report({{"ops", m_ops},
            {"tick", joined(m_ticks)},
            {"handled", joined(m_handledAt)},
            {"frame", joined(m_frames)},
            {"shown", joined(m_shown)},
            {"platform", QGuiApplication::platformName().toUtf8()}});
    QCoreApplication::exit(0);
}

} // namespace

int runWindow(int argc, char **argv, Kind kind, const QString &port, int replies)
{
    QApplication app(argc, argv);
    setupApplication(kind);

    // The probe ends on the last port and leaves it open: the setter found
    // at start-up. The other ports have no device.
    QtSerialControl *serial = nullptr;
    std::unique_ptr<QWidget> window
        = createWindow(kind, [port](int n) { return n == LastPort ? port : QString(); }, &serial);
    loadWindow(window.get());
    if (!serial || !serial->PortOpen()) {
        std::fprintf(stderr, "the probe did not leave COM%d open on %s\n", LastPort, qPrintable(port));
        return 2;
    }

    ReplyWatch watch(window.get(), kind, replies);
    FirstFrame drawn(window.get(), [&](qint64, qint64) {
        QTimer::singleShot(SettleMs, &app, [&] { watch.start(); });
    });
    window->show();
    // Also a limit on the whole run, a second a reply being plenty.
    giveUpUnlessDrawn(ExposeTimeoutMs + 2 * replies * 1000);
    return app.exec();
}

} // namespace ombrix::bench
