#include "design.h"

#include "controls.h"
#include "icons.h"
#include "twips.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QtMath>

namespace ombrix {

namespace {

ControlSpec make(ControlSpec::Kind kind, const QString &name, int index)
{
    ControlSpec c;
    c.kind = kind;
    c.name = name;
    c.index = index;
    return c;
}

// A decoration line: paints itself in the window-text colour and lets every
// mouse press through to the window, as the window's own surface.
class LineWidget : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::WindowText));
    }
};

QRect pixelRect(const ControlSpec &c)
{
    return QRect(toPixels(c.left), toPixels(c.top), toPixels(c.width), toPixels(c.height));
}

QRect lineRect(const ControlSpec &c)
{
    constexpr int thickness = 3;
    const int x1 = toPixels(qMin(c.left, c.width)), x2 = toPixels(qMax(c.left, c.width));
    const int y1 = toPixels(qMin(c.top, c.height)), y2 = toPixels(qMax(c.top, c.height));
    return QRect(x1 - thickness / 2, y1 - thickness / 2, x2 - x1 + thickness, y2 - y1 + thickness);
}

void setColour(QWidget *w, QPalette::ColorRole role, const QColor &colour)
{
    QPalette pal = w->palette();
    pal.setColor(role, colour);
    w->setPalette(pal);
}

QWidget *create(const ControlSpec &c, QWidget *parent)
{
    using Kind = ControlSpec::Kind;
    switch (c.kind) {
    case Kind::Frame:
        return new FrameBox(c.caption, parent);
    case Kind::Label: {
        auto *l = new QLabel(c.caption, parent);
        // Captions are shown as they are, never read as markup.
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(c.align | Qt::AlignTop);
        // A bordered label would otherwise push its text half an "x" away
        // from the border on the aligned sides and cut off its bottom.
        l->setIndent(0);
        if (c.border) {
            l->setFrameShape(QFrame::Box);
            l->setFrameShadow(QFrame::Plain);
        }
        return l;
    }
    case Kind::Option: {
        auto *o = new OptionButton(c.caption, parent);
        o->setChecked(c.checked);
        return o;
    }
    case Kind::TextBox: {
        auto *t = new QLineEdit(c.caption, parent);
        t->setAlignment(c.align | Qt::AlignVCenter);
        // Qt keeps two pixels free inside the frame on either side. In the
        // design's face on Windows, three bold 18 pt digits need the box's
        // whole inner width, as the classic text box gives them.
        t->setTextMargins(-2, 0, -2, 0);
        if (c.maxLength > 0)
            t->setMaxLength(c.maxLength);
        return t;
    }
    case Kind::MultiText: {
        auto *t = new QPlainTextEdit(c.caption, parent);
        t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        // Tab moves on to the next control, as in every other text box.
        t->setTabChangesFocus(true);
        return t;
    }
    case Kind::VScroll:
        return new VScrollBar(c.min, c.max, c.value, parent);
    case Kind::Button: {
        auto *b = new QToolButton(parent);
        b->setText(c.caption);
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setIconSize(QSize(32, 32));
        if (!c.picture.isEmpty())
            b->setIcon(icoIcon(c.picture));
        return b;
    }
    case Kind::Line: {
        auto *l = new LineWidget(parent);
        l->setAttribute(Qt::WA_TransparentForMouseEvents);
        return l;
    }
    }
    return nullptr;
}

// A left-aligned caption that needs more room than its label runs on to the
// right over free space inside its frame, as a caption drawn straight on the
// frame would, instead of losing its last characters.
void letCaptionRunOn(QLabel *label)
{
    auto *frame = qobject_cast<FrameBox *>(label->parentWidget());
    if (!frame || label->frameShape() != QFrame::NoFrame || label->autoFillBackground()
        || !(label->alignment() & Qt::AlignLeft))
        return;
    // The ink may reach past the advance; a smoothed edge takes one pixel more.
    const QFontMetricsF fm(label->font());
    const int needed = qCeil(qMax(fm.horizontalAdvance(label->text()), fm.tightBoundingRect(label->text()).right())) + 1;
    QRect r = label->geometry();
    if (needed <= r.width())
        return;
    // Up to the border, or to the first control in the way. Stacked steps
    // share a pixel row by rounding; that row puts nothing in the way.
    int limit = frame->width() - 2;
    const QRect strip(r.right() + 1, r.top() + 1, limit - r.right() - 1, r.height() - 2);
    for (const QWidget *other : frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        const QRect o = other->geometry();
        if (other != label && o.intersects(strip))
            limit = qMin(limit, o.left());
    }
    r.setWidth(qMax(r.width(), qMin(needed, limit - r.left())));
    label->setGeometry(r);
}

} // namespace

QString ControlSpec::key() const
{
    return index < 0 ? name : QStringLiteral("%1(%2)").arg(name).arg(index);
}

ControlSpec frame(const QString &name, int index) { return make(ControlSpec::Kind::Frame, name, index); }
ControlSpec label(const QString &name, int index) { return make(ControlSpec::Kind::Label, name, index); }
ControlSpec option(const QString &name, int index) { return make(ControlSpec::Kind::Option, name, index); }
ControlSpec textBox(const QString &name, int index) { return make(ControlSpec::Kind::TextBox, name, index); }
ControlSpec multiText(const QString &name) { return make(ControlSpec::Kind::MultiText, name, -1); }
ControlSpec vScroll(const QString &name, int index) { return make(ControlSpec::Kind::VScroll, name, index); }
ControlSpec button(const QString &name) { return make(ControlSpec::Kind::Button, name, -1); }

ControlSpec line(const QString &name, int index, int x1, int y1, int x2, int y2)
{
    ControlSpec c = make(ControlSpec::Kind::Line, name, index);
    c.left = x1;
    c.top = y1;
    c.width = x2;
    c.height = y2;
    return c;
}

namespace {

QStringList mingFamilies()
{
#ifdef Q_OS_WIN
    // The design's face, under its Chinese and its English name. Windows
    // without the Traditional Chinese supplemental fonts lacks it but always
    // has JhengHei; naming it keeps Qt's own fallback from choosing a
    // Japanese or Simplified Chinese face for the captions.
    return {QStringLiteral("新細明體"), QStringLiteral("PMingLiU"), QStringLiteral("微軟正黑體"),
            QStringLiteral("Microsoft JhengHei")};
#else
    // Ming faces Linux has; searching for the Windows names as well costs
    // every start a few milliseconds for nothing.
    return {QStringLiteral("AR PL UMing TW"), QStringLiteral("AR PL UMing HK"),
            QStringLiteral("Noto Serif CJK TC"), QStringLiteral("Noto Sans CJK TC")};
#endif
}

#ifndef Q_OS_WIN
// The faces of `families` this system has, in their order. Qt asks
// fontconfig for a face the system lacks whenever a character takes it past
// the faces before it, only to draw with the next face that is there.
QStringList installedOnly(const QStringList &families)
{
    QStringList have;
    for (QString family : QFontDatabase::families()) {
        // A family with several foundries is listed once per foundry.
        const qsizetype foundry = family.indexOf(QLatin1String(" ["));
        if (foundry > 0)
            family.truncate(foundry);
        have << family;
    }
    QStringList kept;
    for (const QString &family : families)
        if (have.contains(family, Qt::CaseInsensitive))
            kept << family;
    return kept;
}
#endif

// The Ming faces to ask for; looked up once, with the application running.
const QStringList &mingFaces()
{
#ifdef Q_OS_WIN
    // Windows finds a font by name without a search.
    static const QStringList faces = mingFamilies();
#else
    static const QStringList faces = installedOnly(mingFamilies());
#endif
    return faces;
}

} // namespace

QStringList designFontFamilies()
{
#ifdef Q_OS_WIN
    return mingFaces();
#else
    // The design's face draws Latin letters and digits proportionally, in a
    // Times-like serif; the Linux Ming faces draw them all half a character
    // wide, and "Version" or a whole step no longer fits its label. A serif
    // with Times' widths draws those, the Ming face the rest.
    static const QStringList faces = installedOnly({QStringLiteral("Liberation Serif")}) + mingFaces();
    return faces;
#endif
}

QFont windowDefaultFont(const QFont &base)
{
    QFont f = base;
    f.setFamilies(mingFaces());
    f.setPointSize(9);
    // At 9 pt the Ming face's strokes are one pixel thin: smoothed they turn
    // into faint grey. Unsmoothed, the face draws its own hand-tuned bitmaps,
    // solid black and sharp. A stand-in face has no such bitmaps and stays
    // smoothed.
#ifdef Q_OS_WIN
    const QString face = QFontInfo(f).family();
#else
    // Every face listed is there, so the first is the one drawn: asking
    // QFontInfo would load a font that nothing draws with.
    const QString face = mingFaces().value(0);
#endif
    if (mingFamilies().mid(0, 2).contains(face))
        f.setStyleStrategy(QFont::NoAntialias);
    return f;
}

QHash<QString, QWidget *> buildDesign(QWidget *window, const Design &design)
{
    QHash<QString, QWidget *> made;
    for (const ControlSpec &c : design.controls) {
        QWidget *parent = c.parent.isEmpty() ? window : made.value(c.parent);
        Q_ASSERT_X(parent, "buildDesign", qPrintable(c.key()));
        QWidget *w = create(c, parent);
        w->setObjectName(c.key());
        w->setGeometry(c.kind == ControlSpec::Kind::Line ? lineRect(c) : pixelRect(c));
        if (c.fontPoints > 0) {
            QFont f = w->font();
            f.setFamilies(designFontFamilies());
            f.setPointSizeF(c.fontPoints);
            f.setBold(c.bold);
            f.setStyleStrategy(QFont::PreferDefault);
            w->setFont(f);
        }
        if (c.back) {
            setColour(w, QPalette::Window, *c.back);
            w->setBackgroundRole(QPalette::Window);
            w->setAutoFillBackground(true);
            // The style's greyed text vanishes on a silver background; a
            // disabled port option must still say which port it is.
            QPalette pal = w->palette();
            pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(96, 96, 96));
            pal.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(96, 96, 96));
            w->setPalette(pal);
        }
        if (c.fore)
            setColour(w, QPalette::WindowText, *c.fore);
        w->setEnabled(c.enabled);
        w->setVisible(c.visible);
        made.insert(c.key(), w);
    }
    for (const ControlSpec &c : design.controls)
        if (c.kind == ControlSpec::Kind::Label)
            letCaptionRunOn(static_cast<QLabel *>(made.value(c.key())));
    QWidget *previous = nullptr;
    for (const QString &key : design.tabOrder) {
        QWidget *w = made.value(key);
        Q_ASSERT_X(w, "buildDesign tab order", qPrintable(key));
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
    return made;
}

} // namespace ombrix
