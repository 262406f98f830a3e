#include "floor.h"

#include "design.h"
#include "stagedesign.h"

#include <QFont>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QToolButton>

namespace ombrix::bench {

namespace {

// Twips at 96 dpi, rounded as the window rounds them.
int px(int twips)
{
    return (twips + 7) / 15;
}

// The faces the window draws in on Linux, named the plain way: every face
// the design may fall back to, present or not.
const QStringList CaptionFamilies = {QStringLiteral("Liberation Serif"), QStringLiteral("AR PL UMing TW"),
                                     QStringLiteral("AR PL UMing HK"), QStringLiteral("Noto Serif CJK TC"),
                                     QStringLiteral("Noto Sans CJK TC")};
const QStringList WindowFamilies = CaptionFamilies.mid(1);

QWidget *plainWidget(const ControlSpec &c, QWidget *parent)
{
    using Kind = ControlSpec::Kind;
    switch (c.kind) {
    case Kind::Frame:
        return new QGroupBox(c.caption, parent);
    case Kind::Label: {
        auto *l = new QLabel(c.caption, parent);
        l->setAlignment(c.align | Qt::AlignTop);
        if (c.border)
            l->setFrameShape(QFrame::Box);
        return l;
    }
    case Kind::Option: {
        auto *o = new QRadioButton(c.caption, parent);
        o->setChecked(c.checked);
        return o;
    }
    case Kind::TextBox: {
        auto *t = new QLineEdit(c.caption, parent);
        t->setAlignment(c.align | Qt::AlignVCenter);
        return t;
    }
    case Kind::MultiText:
        return new QPlainTextEdit(c.caption, parent);
    case Kind::VScroll: {
        auto *s = new QScrollBar(Qt::Vertical, parent);
        s->setRange(qMin(c.min, c.max), qMax(c.min, c.max));
        s->setValue(c.value);
        return s;
    }
    case Kind::Button: {
        auto *b = new QToolButton(parent);
        b->setText(c.caption);
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setIconSize(QSize(32, 32));
        if (!c.picture.isEmpty())
            b->setIcon(QIcon(c.picture));
        return b;
    }
    case Kind::Line: {
        auto *l = new QWidget(parent);
        QPalette pal = l->palette();
        pal.setColor(QPalette::Window, Qt::black);
        l->setPalette(pal);
        l->setAutoFillBackground(true);
        return l;
    }
    }
    return nullptr;
}

QRect place(const ControlSpec &c)
{
    if (c.kind != ControlSpec::Kind::Line)
        return QRect(px(c.left), px(c.top), px(c.width), px(c.height));
    // A line keeps its end points where the others keep their size.
    const QRect ends = QRect(QPoint(px(qMin(c.left, c.width)), px(qMin(c.top, c.height))),
                             QPoint(px(qMax(c.left, c.width)), px(qMax(c.top, c.height))));
    return ends.adjusted(-1, -1, 1, 1);
}

} // namespace

std::unique_ptr<QWidget> createFloorWindow()
{
    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(QStringLiteral("奶泡機時間參數設定 V1.3"));
    window->setWindowIcon(QIcon(QStringLiteral(":/program.ico")));
    QFont windowFont(WindowFamilies, 9);
    windowFont.setStyleStrategy(QFont::NoAntialias);
    window->setFont(windowFont);
    window->resize(px(15135), px(10695));

    QHash<QString, QWidget *> made;
    for (const ControlSpec &c : stageDesign().controls) {
        QWidget *w = plainWidget(c, c.parent.isEmpty() ? window.get() : made.value(c.parent));
        w->setGeometry(place(c));
        if (c.fontPoints > 0) {
            QFont f(CaptionFamilies);
            f.setPointSizeF(c.fontPoints);
            f.setBold(c.bold);
            w->setFont(f);
        }
        if (c.back) {
            QPalette pal = w->palette();
            pal.setColor(w->backgroundRole(), *c.back);
            w->setPalette(pal);
            w->setAutoFillBackground(true);
        }
        if (c.fore) {
            QPalette pal = w->palette();
            pal.setColor(QPalette::WindowText, *c.fore);
            w->setPalette(pal);
        }
        w->setEnabled(c.enabled);
        w->setVisible(c.visible);
        made.insert(c.key(), w);
    }
    return window;
}

} // namespace ombrix::bench
