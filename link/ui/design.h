#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class QWidget;

namespace ombrix {

// One control of a window design. Places and sizes are in twips, relative to
// the window's client area or to the frame named as parent. A line keeps its
// two end points in left/top and right/bottom.
struct ControlSpec
{
    enum class Kind { Frame, Label, Option, TextBox, MultiText, VScroll, Button, Line };

    Kind kind = Kind::Label;
    QString name;
    int index = -1; // item of a control array; -1 for a single control
    QString parent; // key of the containing frame, empty for the window
    QString caption;
    int left = 0, top = 0, width = 0, height = 0;
    double fontPoints = 0; // 0: the window's default font
    bool bold = false;
    Qt::Alignment align = Qt::AlignLeft;
    std::optional<QColor> back;
    std::optional<QColor> fore;
    bool border = false;
    bool visible = true;
    bool checked = false;
    bool enabled = true;
    int maxLength = 0;
    int min = 0, max = 0, value = 0;
    QString picture; // resource name of a button's picture

    // "VsStep1(0)" for an array item, "CmdWr" for a single control.
    QString key() const;

    ControlSpec &in(const QString &frameKey) { parent = frameKey; return *this; }
    ControlSpec &at(int l, int t) { left = l; top = t; return *this; }
    ControlSpec &size(int w, int h) { width = w; height = h; return *this; }
    ControlSpec &text(const QString &c) { caption = c; return *this; }
    ControlSpec &font(double points, bool isBold = false) { fontPoints = points; bold = isBold; return *this; }
    ControlSpec &centred() { align = Qt::AlignHCenter; return *this; }
    ControlSpec &right() { align = Qt::AlignRight; return *this; }
    ControlSpec &background(QColor c) { back = c; return *this; }
    ControlSpec &foreground(QColor c) { fore = c; return *this; }
    ControlSpec &bordered() { border = true; return *this; }
    ControlSpec &hidden() { visible = false; return *this; }
    ControlSpec &selected() { checked = true; return *this; }
    ControlSpec &maxChars(int n) { maxLength = n; return *this; }
    ControlSpec &range(int lo, int hi, int v) { min = lo; max = hi; value = v; return *this; }
    ControlSpec &pictured(const QString &p) { picture = p; return *this; }
};

ControlSpec frame(const QString &name, int index = -1);
ControlSpec label(const QString &name, int index = -1);
ControlSpec option(const QString &name, int index = -1);
ControlSpec textBox(const QString &name, int index = -1);
ControlSpec multiText(const QString &name);
ControlSpec vScroll(const QString &name, int index = -1);
ControlSpec button(const QString &name);
ControlSpec line(const QString &name, int index, int x1, int y1, int x2, int y2);

// A window's stored design: its controls in creation order (a frame before
// what it holds) and the keys of the focusable controls in tab order.
struct Design
{
    std::vector<ControlSpec> controls;
    QStringList tabOrder;

    Design &operator<<(const ControlSpec &c) { controls.push_back(c); return *this; }
};

// The faces every designed font is drawn in, best first: the design's Ming
// face and, where a system may lack it, faces with the same Traditional
// Chinese shapes whatever the user's locale. On Linux a proportional serif
// comes first for Latin letters and digits, which the Ming faces there draw
// half a character wide.
QStringList designFontFamilies();

// The window's default font, for the controls the design gives no font of
// their own: the buttons, the port frame and its options.
QFont windowDefaultFont(const QFont &base);

// Creates the controls of the design on the window, each with its key as
// object name, and returns them by key.
QHash<QString, QWidget *> buildDesign(QWidget *window, const Design &design);

} // namespace ombrix
