#pragma once

// Checks on how a control looks, read from the pixels it draws: whether its
// caption fits its box, whether the caption's strokes are solid, where a
// frame's border runs.

#include "controls.h"
#include "design.h"
#include "widgetprobe.h"

#include <QHash>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionSlider>
#include <QTest>
#include <QToolButton>
#include <QWidget>

#include <algorithm>
#include <initializer_list>

namespace look {

// The keys of a design's controls of the given kinds, in design order.
inline QStringList keysOf(const ombrix::Design &design, std::initializer_list<ombrix::ControlSpec::Kind> kinds)
{
    QStringList keys;
    for (const ombrix::ControlSpec &c : design.controls)
        if (std::find(kinds.begin(), kinds.end(), c.kind) != kinds.end())
            keys << c.key();
    return keys;
}

inline int distance(QRgb a, QRgb b)
{
    return qMax(qAbs(qRed(a) - qRed(b)), qMax(qAbs(qGreen(a) - qGreen(b)), qAbs(qBlue(a) - qBlue(b))));
}

// The side a control's text is anchored to.
inline Qt::Alignment anchorOf(QWidget *w)
{
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->alignment();
    if (auto *t = qobject_cast<QLineEdit *>(w))
        return t->alignment();
    return Qt::AlignLeft | Qt::AlignVCenter;
}

// How many pixels of a control's text fall outside its own box. A picture
// button lays its picture and caption out afresh at every size, so only the
// caption's width is compared with the room inside its bevel. Any other control
// is grown away from the sides its text is anchored to and drawn: whatever
// shows in the grown margin, its own border aside, is text that the box at
// its real size cuts off, and whatever differs inside its border is text the
// box at its real size shifts or scrolls to make it fit.
inline int inkOutside(QWidget *w)
{
    if (auto *button = qobject_cast<QToolButton *>(w)) {
        constexpr int bevel = 3;
        const int needed = button->fontMetrics().horizontalAdvance(button->text());
        return qMax(0, needed - (button->width() - 2 * bevel)) * button->fontMetrics().height();
    }
    constexpr int margin = 40;
    constexpr int border = 3; // the widest frame a control draws at its edge
    const Qt::Alignment align = anchorOf(w);
    const QRect real = w->geometry();
    QRect grown = real;
    if (align & Qt::AlignLeft)
        grown.setRight(real.right() + margin);
    else if (align & Qt::AlignRight)
        grown.setLeft(real.left() - margin);
    else
        grown.adjust(-margin, 0, margin, 0);
    if (align & Qt::AlignTop)
        grown.setBottom(real.bottom() + margin);
    else if (align & Qt::AlignBottom)
        grown.setTop(real.top() - margin);
    else
        grown.adjust(0, -margin, 0, margin);
    w->clearFocus(); // no cursor or focus ring in either picture
    const QImage atSize = w->grab().toImage();
    w->setGeometry(grown);
    const QImage image = w->grab().toImage();
    w->setGeometry(real);

    const QRect inside = QRect(real.topLeft() - grown.topLeft(), real.size());
    const QRect ring = image.rect().adjusted(border, border, -border, -border);
    // The far bottom corner of the margin is never reached by the text.
    const QPoint far((align & Qt::AlignRight) ? border : image.width() - 1 - border, image.height() - 1 - border);
    const QRgb background = image.pixel(far);
    int ink = 0;
    for (int y = ring.top(); y <= ring.bottom(); ++y)
        for (int x = ring.left(); x <= ring.right(); ++x)
            if (!inside.contains(x, y) && distance(image.pixel(x, y), background) > 24)
                ++ink;
    const QRect within = inside.adjusted(border, border, -border, -border);
    for (int y = within.top(); y <= within.bottom(); ++y)
        for (int x = within.left(); x <= within.right(); ++x)
            if (distance(image.pixel(x, y), atSize.pixel(x - inside.left(), y - inside.top())) > 24)
                ++ink;
    return ink;
}

// What is wrong with a scroll bar that does not fill its box: the bar and
// both arrows must be as wide as the control. Empty when all is right.
inline QString barFillsBox(ombrix::VScrollBar *holder)
{
    QScrollBar *bar = probe::innerBar(holder);
    if (bar->geometry() != holder->rect())
        return QStringLiteral("a bar %1 x %2 px at (%3, %4) in a box %5 x %6 px")
            .arg(bar->width()).arg(bar->height()).arg(bar->x()).arg(bar->y()).arg(holder->width()).arg(holder->height());
    QStyleOptionSlider opt;
    opt.initFrom(bar);
    opt.orientation = Qt::Vertical;
    opt.minimum = bar->minimum();
    opt.maximum = bar->maximum();
    opt.sliderPosition = bar->sliderPosition();
    opt.pageStep = bar->pageStep();
    for (QStyle::SubControl arrow : {QStyle::SC_ScrollBarSubLine, QStyle::SC_ScrollBarAddLine}) {
        const int width = bar->style()->subControlRect(QStyle::CC_ScrollBar, &opt, arrow, bar).width();
        if (width != holder->width())
            return QStringLiteral("an arrow %1 px wide in a box %2 px wide").arg(width).arg(holder->width());
    }
    return {};
}

// Whether presses on the far parts of an option select it: at 90 % of its
// width, at its right edge, in its bottom right corner.
inline QString reactsOnWholeArea(QRadioButton *option)
{
    QRadioButton *other = nullptr;
    for (QRadioButton *o : option->parentWidget()->findChildren<QRadioButton *>(Qt::FindDirectChildrenOnly))
        if (o != option && o->isEnabled())
            other = o;
    if (!other)
        return QStringLiteral("no other option to clear it with");
    const QPoint points[] = {{option->width() * 9 / 10, option->height() / 2},
                             {option->width() - 1, option->height() / 2},
                             {option->width() - 1, option->height() - 1}};
    for (const QPoint &at : points) {
        other->setChecked(true);
        QTest::mouseClick(option, Qt::LeftButton, {}, at);
        if (!option->isChecked())
            return QStringLiteral("a press at (%1, %2) left it clear").arg(at.x()).arg(at.y());
    }
    return {};
}

// Whether a frame's caption stands on its top border line and interrupts
// it: the line runs through the caption's middle rows, on both sides of it,
// and stops short of it.
inline QString captionOnBorder(ombrix::FrameBox *frame)
{
    const QImage image = frame->grab().toImage();
    const QRect caption = frame->captionRect();
    const QRgb background = image.pixel(1, 1);
    int inkTop = -1, inkBottom = -1;
    for (int y = caption.top(); y <= caption.bottom(); ++y)
        for (int x = caption.left(); x <= caption.right(); ++x)
            if (distance(image.pixel(x, y), background) > 24) {
                inkBottom = y;
                if (inkTop < 0)
                    inkTop = y;
            }
    const int row = frame->borderTop();
    if (inkTop < 0)
        return QStringLiteral("no caption drawn");
    if (row <= inkTop || row >= inkBottom)
        return QStringLiteral("border at row %1, caption in rows %2..%3").arg(row).arg(inkTop).arg(inkBottom);
    auto drawn = [&](int x) { return distance(image.pixel(x, row), background) > 24; };
    for (int x = 2; x < caption.left() - 2; ++x)
        if (!drawn(x))
            return QStringLiteral("no border left of the caption at x %1").arg(x);
    for (int x = caption.right() + 3; x < image.width() - 2; ++x)
        if (!drawn(x))
            return QStringLiteral("no border right of the caption at x %1").arg(x);
    if (drawn(caption.left() - 1) || drawn(caption.right() + 1))
        return QStringLiteral("the border runs on into the caption");
    return {};
}

// The share of a caption's strokes drawn in the full text colour, the
// button's picture left out.
inline double captionSolidity(QWidget *control)
{
    control->clearFocus(); // a focus frame is drawn in dots
    QRect area = control->rect().adjusted(3, 3, -3, -3);
    QRgb text = control->palette().color(QPalette::WindowText).rgb();
    QIcon icon;
    auto *button = qobject_cast<QToolButton *>(control);
    if (button) {
        icon = button->icon();
        button->setIcon(QIcon());
        text = control->palette().color(QPalette::ButtonText).rgb();
    } else if (auto *option = qobject_cast<QRadioButton *>(control)) {
        QStyleOptionButton opt;
        opt.initFrom(option);
        area &= option->style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, option);
        if (!option->isEnabled())
            text = control->palette().color(QPalette::Disabled, QPalette::WindowText).rgb();
    }
    const QImage image = control->grab().toImage();
    if (button)
        button->setIcon(icon);
    // Row by row, the commonest colour is the face: a button's is a gradient.
    int drawn = 0, solid = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        QHash<QRgb, int> counts;
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y)];
        const QRgb background = std::max_element(counts.keyValueBegin(), counts.keyValueEnd(),
                                                 [](auto a, auto b) { return a.second < b.second; })->first;
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (distance(p, background) <= 24)
                continue;
            ++drawn;
            if (distance(p, text) <= 48)
                ++solid;
        }
    }
    return drawn ? double(solid) / drawn : 0;
}

} // namespace look
