#include "controls.h"

#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace ombrix {

VScrollBar::VScrollBar(int min, int max, int value, QWidget *parent)
    : QWidget(parent)
    , m_min(min)
    , m_max(max)
    , m_bar(new QScrollBar(Qt::Vertical, this))
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

void FrameBox::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QPalette &pal = palette();
    // An etched line: a dark groove with a light edge below and right of it.
    const QRect box(0, borderTop(), width() - 1, height() - borderTop() - 1);
    p.setPen(pal.color(QPalette::Light));
    p.drawRect(box.translated(1, 1).adjusted(0, 0, -1, -1));
    p.setPen(pal.color(QPalette::Dark));
    p.drawRect(box.adjusted(0, 0, -1, -1));
    if (title().isEmpty())
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
