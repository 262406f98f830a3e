#pragma once

#include <QGroupBox>
#include <QObject>
#include <QRadioButton>
#include <QWidget>

class QScrollBar;
class QTimer;

namespace ombrix {

// A vertical scroll bar whose top end is Min and bottom end Max, whichever is
// larger. QScrollBar always puts its minimum at the top and its up arrow
// always lowers its value, so the bar keeps Qt's position and maps it:
// Value = Min - position when Min > Max. Arrows, keys, wheel and drag all
// move the Qt position, so they stay consistent with each other.
// Change is raised only when Value really changes, and not while the thumb
// is dragged: once, when it is let go.
class VScrollBar : public QWidget
{
    Q_OBJECT
public:
    VScrollBar(int min, int max, int value, QWidget *parent = nullptr);

    int Min() const { return m_min; }
    int Max() const { return m_max; }
    int Value() const;
    // False for a value outside Min..Max: the bar keeps its value and raises
    // no Change.
    bool setValue(int value);

signals:
    void Change();

private:
    int toPosition(int value) const;
    int fromPosition(int position) const;

    int m_min;
    int m_max;
    QScrollBar *m_bar;
};

// A frame whose caption stands on its top border line and interrupts it, as
// the classic frame draws it, whatever the style.
class FrameBox : public QGroupBox
{
    Q_OBJECT
public:
    using QGroupBox::QGroupBox;

    // Where the caption is drawn, and the row of the top border line.
    QRect captionRect() const;
    int borderTop() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// An option button that a press anywhere on its area selects, not only on
// its circle and caption: the coloured speed bars are one target each.
class OptionButton : public QRadioButton
{
    Q_OBJECT
public:
    using QRadioButton::QRadioButton;

protected:
    bool hitButton(const QPoint &pos) const override;
};

// A timer with the classic semantics: interval 0 never ticks, and setting
// the interval or enabling restarts the count. Precise, so the receive gap
// does not drift by a coarse timer's 5 %.
class Timer : public QObject
{
    Q_OBJECT
public:
    explicit Timer(QObject *parent = nullptr);

    int Interval() const { return m_interval; }
    void setInterval(int ms);
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    // True while a tick is due: enabled with an interval.
    bool isCounting() const;

signals:
    void Tick();

private:
    void restart();

    QTimer *m_timer;
    int m_interval = 0;
    bool m_enabled = true;
};

// Modal box with an OK button only and no icon, titled with the program's
// title; returns when the operator closes it.
void MsgBox(QWidget *parent, const QString &title, const QString &text);

} // namespace ombrix
