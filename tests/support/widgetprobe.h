#pragma once

// Small helpers the window tests share: find a scroll bar's parts, read a
// control's caption, walk the tab chain, type into a box as the operator does.

#include <QApplication>
#include <QByteArray>
#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QToolButton>

namespace probe {

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

inline unsigned char xorAll(const QByteArray &bytes)
{
    unsigned char all = 0;
    for (char b : bytes)
        all ^= static_cast<unsigned char>(b);
    return all;
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
