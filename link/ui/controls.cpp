#include "controls.h"

#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QVBoxLayout>

namespace ombrix {

namespace {

// Qt repaints a scroll bar at every change of its value, also when its thumb
// stays on the same pixels or the bar is too short to have one, as the
// designed bars are: a parameter reply would repaint ten bars, and the
// frames under them, for nothing. A value change repaints only when it moves
// the thumb or reaches or leaves an end, where a style may grey an arrow.
class ThumbBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override
    {
        // A held page press checks here whether the thumb reached the pointer.
        if (change == SliderValueChange && repeatAction() == SliderNoAction && look() == m_painted)
            return;
        QScrollBar::sliderChange(change);
    }

    void paintEvent(QPaintEvent *event) override
    {
        m_painted = look();
        QScrollBar::paintEvent(event);
    }

private:
    struct Look
    {
        QRect thumb;
        bool atMinimum = false;
        bool atMaximum = false;

        bool operator==(const Look &o) const
        {
            return thumb == o.thumb && atMinimum == o.atMinimum && atMaximum == o.atMaximum;
        }
    };

    Look look() const
    {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this),
                value() == minimum(), value() == maximum()};
    }

    Look m_painted;
};

} // namespace

VScrollBar::VScrollBar(int min, int max, int value, QWidget *parent)
    : QWidget(parent)
    , m_min(min)
    , m_max(max)
    , m_bar(new ThumbBar(Qt::Vertical, this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_bar);
    // The style's own width is a thin strip; the bar fills its whole box.
    m_bar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // The bar takes focus by tab and by click, so its arrow keys work.
    m_bar->setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(m_bar);
    setFocusPolicy(Qt::StrongFocus);

    m_bar->setRange(0, qAbs(m_max - m_min));
    m_bar->setSingleStep(1);
    m_bar->setPageStep(1);
    // Without tracking, valueChanged comes once when a dragged thumb is let go.
    m_bar->setTracking(false);
    m_bar->setValue(toPosition(value));
    connect(m_bar, &QScrollBar::valueChanged, this, &VScrollBar::Change);
}

int VScrollBar::Value() const
{
    return fromPosition(m_bar->value());
}

bool VScrollBar::setValue(int value)
{
    if (value < qMin(m_min, m_max) || value > qMax(m_min, m_max))
        return false;
    m_bar->setValue(toPosition(value));
    return true;
}

int VScrollBar::toPosition(int value) const
{
    return m_min > m_max ? m_min - value : value - m_min;
}

int VScrollBar::fromPosition(int position) const
{
    return m_min > m_max ? m_min - position : m_min + position;
}

namespace {
// The caption starts this far in from the frame's left edge, with a gap
// either side where the border line is left out.
constexpr int CaptionIndent = 8;
constexpr int CaptionGap = 2;
} // namespace

QRect FrameBox::captionRect() const
{
    const QFontMetrics fm = fontMetrics();
    return QRect(CaptionIndent, 0, fm.horizontalAdvance(title()), fm.height());
}

int FrameBox::borderTop() const
{
    return fontMetrics().height() / 2;
}

void FrameBox::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    const QPalette &pal = palette();
    // An etched line: a dark groove with a light edge below and right of it.
    const QRect box(0, borderTop(), width() - 1, height() - borderTop() - 1);
    p.setPen(pal.color(QPalette::Light));
    p.drawRect(box.translated(1, 1).adjusted(0, 0, -1, -1));
    p.setPen(pal.color(QPalette::Dark));
    p.drawRect(box.adjusted(0, 0, -1, -1));
    // Most repaints are of a control inside, well below the caption: laying
    // the caption out only to have it clipped away costs more than the rest.
    if (title().isEmpty() || !event->region().intersects(QRect(0, 0, width(), fontMetrics().height())))
        return;
    const QRect caption = captionRect();
    p.fillRect(caption.adjusted(-CaptionGap, 0, CaptionGap, 0), pal.color(backgroundRole()));
    p.setPen(pal.color(foregroundRole()));
    p.drawText(caption, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, title());
}

bool OptionButton::hitButton(const QPoint &pos) const
{
    return rect().contains(pos);
}

Timer::Timer(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &Timer::Tick);
}

void Timer::setInterval(int ms)
{
    m_interval = qMax(0, ms);
    restart();
}

void Timer::setEnabled(bool enabled)
{
    m_enabled = enabled;
    restart();
}

bool Timer::isCounting() const
{
    return m_timer->isActive();
}

void Timer::restart()
{
    if (m_enabled && m_interval > 0)
        m_timer->start(m_interval);
    else
        m_timer->stop();
}

void MsgBox(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace ombrix
