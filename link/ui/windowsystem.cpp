#include "windowsystem.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#ifdef Q_OS_WIN
#include <windows.h>

#include <dwmapi.h>
#endif

#ifdef OMBRIX_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>
#endif

namespace ombrix {

namespace {

#ifdef OMBRIX_HAVE_XCB
xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return a;
}

// An unmapped window's state is a property the client owns; Qt adds its own
// states to what it finds there when it maps the window.
void addSkipTaskbar(QWidget *window)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    if (!c)
        return;
    const auto w = xcb_window_t(window->winId());
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t skip = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    if (state == XCB_ATOM_NONE || skip == XCB_ATOM_NONE)
        return;

    std::vector<xcb_atom_t> states;
    if (xcb_get_property_reply_t *reply =
            xcb_get_property_reply(c, xcb_get_property(c, 0, w, state, XCB_ATOM_ATOM, 0, 1024), nullptr)) {
        if (reply->type == XCB_ATOM_ATOM && reply->format == 32) {
            const auto *data = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
            states.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        std::free(reply);
    }
    for (xcb_atom_t s : states)
        if (s == skip)
            return;
    states.push_back(skip);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, state, XCB_ATOM_ATOM, 32, uint32_t(states.size()),
                        states.data());
}

class TaskbarHint : public QObject
{
public:
    explicit TaskbarHint(QWidget *window) : QObject(window) { window->installEventFilter(this); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // A non-spontaneous show comes after the native window is made and
        // before it is mapped.
        if (event->type() == QEvent::Show && !event->spontaneous())
            addSkipTaskbar(static_cast<QWidget *>(watched));
        return false;
    }
};
#endif

// The frame around the window's client area as it is on screen, in the
// widget's own pixels.
QMargins drawnFrame(QWidget *window)
{
#ifdef Q_OS_WIN
    // Qt takes every frame for a Windows 10 one, whose resize borders are
    // invisible, and leaves them out; Wine draws all of its frame. DWM's
    // bounds are what shows, the window rectangle where there is no DWM.
    if (QGuiApplication::platformName() != QLatin1String("windows"))
        return window->windowHandle()->frameMargins();
    const auto hwnd = HWND(window->winId());
    RECT frame{};
    if (FAILED(DwmGetWindowAttribute(hwnd, DWMWA_EXTENDED_FRAME_BOUNDS, &frame, sizeof frame))
        && !GetWindowRect(hwnd, &frame))
        return window->windowHandle()->frameMargins();
    POINT origin{0, 0};
    RECT client{};
    ClientToScreen(hwnd, &origin);
    GetClientRect(hwnd, &client);
    const qreal ratio = window->devicePixelRatioF();
    return QMargins(qRound((origin.x - frame.left) / ratio), qRound((origin.y - frame.top) / ratio),
                    qRound((frame.right - origin.x - client.right) / ratio),
                    qRound((frame.bottom - origin.y - client.bottom) / ratio));
#else
    return window->windowHandle()->frameMargins();
#endif
}

class Centring : public QObject
{
public:
    explicit Centring(QWidget *window) : QObject(window), m_window(window) { window->installEventFilter(this); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window) {
            if (event->type() == QEvent::Show && m_window->windowHandle()) {
                m_window->removeEventFilter(this);
                m_frame = drawnFrame(m_window);
                centre();
                m_window->windowHandle()->installEventFilter(this);
            }
        } else if ((event->type() == QEvent::Expose || event->type() == QEvent::Move)
                   && static_cast<QWindow *>(watched)->isExposed()) {
            // On screen now: an X11 window manager has put its frame around
            // the window, and DWM knows the visible one. The operator cannot
            // have moved a window that had no frame yet.
            const QMargins frame = drawnFrame(m_window);
            if (frame != m_frame) {
                m_frame = frame;
                centre();
            }
            if (!frame.isNull()) {
                watched->removeEventFilter(this);
                deleteLater();
            }
        }
        return false;
    }

private:
    void centre()
    {
        const QScreen *screen = m_window->screen();
        if (!screen)
            return;
        QRect whole = m_window->geometry().marginsAdded(m_frame);
        whole.moveCenter(screen->availableGeometry().center());
        m_window->setGeometry(whole.marginsRemoved(m_frame));
    }

    QWidget *m_window;
    QMargins m_frame;
};

} // namespace

void keepOffTaskbar(QWidget *window)
{
#ifdef OMBRIX_HAVE_XCB
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        new TaskbarHint(window);
#else
    Q_UNUSED(window);
#endif
}

void centreWhenShown(QWidget *window)
{
    new Centring(window);
}

} // namespace ombrix
