#pragma once

// Reading top-level windows back from an X server through Xlib: the tests
// that run the built programs, natively or under Wine, look at what the
// window system got from them.

#include <QByteArray>
#include <QRect>
#include <QString>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <functional>

namespace xwin {

// Windows come and go while a test walks the tree: one gone meanwhile is an
// error that Xlib's own handler would end the whole test program for.
inline int ignoreErrors(Display *, XErrorEvent *)
{
    return 0;
}

// A property of the given type and format; empty when the window has none.
// Xlib hands 32-bit items as longs.
inline QByteArray property(Display *d, Window w, const char *name, Atom type, int format)
{
    Atom actualType = None;
    int actualFormat = 0;
    unsigned long items = 0, after = 0;
    unsigned char *data = nullptr;
    QByteArray value;
    if (XGetWindowProperty(d, w, XInternAtom(d, name, False), 0, 4096, False, type, &actualType, &actualFormat,
                           &items, &after, &data)
            == Success
        && data) {
        if (actualType == type && actualFormat == format)
            value = QByteArray(reinterpret_cast<const char *>(data),
                               int(items * (format == 32 ? sizeof(long) : format / 8)));
        XFree(data);
    }
    return value;
}

// The title a title bar or taskbar shows: _NET_WM_NAME, UTF-8.
inline QString title(Display *d, Window w)
{
    return QString::fromUtf8(property(d, w, "_NET_WM_NAME", XInternAtom(d, "UTF8_STRING", False), 8));
}

// The first viewable window at or below `w`, depth first, that `match`
// accepts; 0 when there is none.
inline Window findViewable(Display *d, Window w, const std::function<bool(Window)> &match)
{
    XWindowAttributes a{};
    if (XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable && match(w))
        return w;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &count))
        return 0;
    Window hit = 0;
    for (unsigned i = 0; i < count && !hit; ++i)
        hit = findViewable(d, children[i], match);
    if (children)
        XFree(children);
    return hit;
}

// Centred to the pixel, either way when the spare room is odd.
inline bool isCentred(const QRect &r, const QRect &on)
{
    const QPoint twiceOff = 2 * (r.topLeft() - on.topLeft()) + QPoint(r.width() - on.width(), r.height() - on.height());
    return qAbs(twiceOff.x()) <= 2 && qAbs(twiceOff.y()) <= 2;
}

} // namespace xwin
