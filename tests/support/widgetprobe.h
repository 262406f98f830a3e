#pragma once

// Small helpers the window tests share: find a scroll bar's
// parts, read a control's caption and how it sits, walk the tab chain, type
// into a box as the operator does.

#include "lookup.h"

#include <QApplication>
#include <QByteArray>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QToolButton>

namespace probe {

// A rectangle of the design, in twips, as pixels on screen: 15 twips to
// the pixel.
inline QRect px(int left, int top, int width, int height)
{
    return QRect(qRound(left / 15.0), qRound(top / 15.0), qRound(width / 15.0), qRound(height / 15.0));
}

// Where a label's or a text box's text sits in its box: "left top",
// "centre top", "right middle" and so on; empty for any other control.
inline QString textPlace(QWidget *w)
{
    Qt::Alignment a;
    if (auto *l = qobject_cast<QLabel *>(w))
        a = l->alignment();
    else if (auto *t = qobject_cast<QLineEdit *>(w))
        a = t->alignment();
    else
        return {};
    const char *across = a.testFlag(Qt::AlignLeft) ? "left"
        : a.testFlag(Qt::AlignHCenter)             ? "centre"
        : a.testFlag(Qt::AlignRight)               ? "right"
                                                   : "?";
    const char *down = a.testFlag(Qt::AlignTop) ? "top"
        : a.testFlag(Qt::AlignVCenter)          ? "middle"
        : a.testFlag(Qt::AlignBottom)           ? "bottom"
                                                : "?";
    return QStringLiteral("%1 %2").arg(QString::fromLatin1(across), QString::fromLatin1(down));
}

// Whether a label is drawn inside a border of one plain line all round.
inline bool boxed(QWidget *w)
{
    auto *l = qobject_cast<QLabel *>(w);
    return l && l->frameShape() == QFrame::Box && l->frameShadow() == QFrame::Plain && l->frameWidth() == 1;
}

// Whether the whole window, its frame included, stands in the middle of the
// room its screen leaves free.
inline bool centredOnScreen(QWidget *window)
{
    if (!window->screen())
        return false;
    const QRect whole = window->frameGeometry();
    const QRect room = window->screen()->availableGeometry();
    const QPoint twiceOff = 2 * (whole.topLeft() - room.topLeft())
        + QPoint(whole.width() - room.width(), whole.height() - room.height());
    // Window systems disagree by a few pixels on where a frame ends (Wine,
    // Windows' invisible resize borders); a window left where it was put
    // is off by far more.
    return qAbs(twiceOff.x()) <= 16 && qAbs(twiceOff.y()) <= 16;
}

// Centre of one part of a scroll bar (an arrow, the track, the thumb).
inline QPoint partCentre(QScrollBar *bar, QStyle::SubControl part)
{
    QStyleOptionSlider opt;
    opt.initFrom(bar);
    opt.orientation = bar->orientation();
    opt.minimum = bar->minimum();
    opt.maximum = bar->maximum();
    opt.sliderPosition = bar->sliderPosition();
    opt.sliderValue = bar->value();
    opt.singleStep = bar->singleStep();
    opt.pageStep = bar->pageStep();
    opt.subControls = QStyle::SC_All;
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &opt, part, bar).center();
}

// The Qt scroll bar inside one of our bars, for clicks and keys aimed at
// its parts.
inline QScrollBar *innerBar(QWidget *bar)
{
    return bar->findChild<QScrollBar *>();
}

inline QPoint arrow(QScrollBar *bar, bool up)
{
    return partCentre(bar, up ? QStyle::SC_ScrollBarSubLine : QStyle::SC_ScrollBarAddLine);
}

inline QString captionOf(QWidget *w)
{
    if (auto *g = qobject_cast<QGroupBox *>(w)) return g->title();
    if (auto *l = qobject_cast<QLabel *>(w)) return l->text();
    if (auto *o = qobject_cast<QRadioButton *>(w)) return o->text();
    if (auto *t = qobject_cast<QLineEdit *>(w)) return t->text();
    if (auto *b = qobject_cast<QToolButton *>(w)) return b->text();
    if (auto *m = qobject_cast<QPlainTextEdit *>(w)) return m->toPlainText();
    return {};
}

// The named controls in the order Tab visits them, starting at `first`.
// A control whose focus goes to an inner widget counts under its own name.
inline QStringList tabChain(QWidget *first, const QStringList &names)
{
    QStringList chain;
    QWidget *w = first;
    do {
        QWidget *named = w->objectName().isEmpty() ? w->parentWidget() : w;
        if ((w->focusPolicy() & Qt::TabFocus) && named && names.contains(named->objectName())
            && !chain.contains(named->objectName()))
            chain << named->objectName();
        w = w->nextInFocusChain();
    } while (w != first);
    return chain;
}

// Empties the box with the keyboard, then types the text key by key, or
// pastes it whole (one change of the text).
inline void enterText(QLineEdit *box, const QString &text, bool paste)
{
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Backspace);
    if (paste) {
        QApplication::clipboard()->setText(text);
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    } else {
        QTest::keyClicks(box, text);
    }
}

} // namespace probe
