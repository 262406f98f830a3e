#include "setterwindow.h"

#include "controls.h"
#include "frame.h"
#include "portprobe.h"
#include "reply.h"
#include "serialcontrol.h"
#include "twips.h"

#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QToolButton>

namespace ombrix {

SetterWindow::SetterWindow(const QString &programTitle, const Design &design,
                           std::unique_ptr<SerialControl> serial, QWidget *parent)
    : QWidget(parent)
    , MSC1(std::move(serial))
    , TmrRx(new Timer(this))
    , TimerOut(new Timer(this))
    , m_programTitle(programTitle)
{
    setFont(windowDefaultFont(font()));

    m_built = buildDesign(this, design);
    LblVersion = built<QLabel>(QStringLiteral("LblVersion"));
    CmdVersion = built<QToolButton>(QStringLiteral("CmdVersion"));
    CmdTest = built<QToolButton>(QStringLiteral("CmdTest"));
    CmdRd = built<QToolButton>(QStringLiteral("CmdRd"));
    CmdWr = built<QToolButton>(QStringLiteral("CmdWr"));
    CmdClear = built<QToolButton>(QStringLiteral("CmdClear"));
    TextRec = built<QPlainTextEdit>(QStringLiteral("TextRec"));
    FamCOM = built<QGroupBox>(QStringLiteral("FamCOM"));
    for (int n = FirstPort; n <= LastPort; ++n)
        m_optCom[n - FirstPort] = built<QRadioButton>(QStringLiteral("OptCom%1").arg(n));
    for (const QString &key : design.tabOrder)
        m_tabOrder << built<QWidget>(key);
    TmrRx->setObjectName(QStringLiteral("TmrRx"));
    TimerOut->setObjectName(QStringLiteral("TimerOut"));
    MSC1->setObjectName(QStringLiteral("MSC1"));
    MSC1->setParent(nullptr); // owned by the unique_ptr

    void (SetterWindow::*const clicks[])() = {
        &SetterWindow::OptCom1_Click, &SetterWindow::OptCom2_Click, &SetterWindow::OptCom3_Click,
        &SetterWindow::OptCom4_Click, &SetterWindow::OptCom5_Click, &SetterWindow::OptCom6_Click,
        &SetterWindow::OptCom7_Click, &SetterWindow::OptCom8_Click};
    connect(CmdVersion, &QToolButton::clicked, this, &SetterWindow::CmdVersion_Click);
    connect(CmdTest, &QToolButton::clicked, this, &SetterWindow::CmdTest_Click);
    connect(CmdRd, &QToolButton::clicked, this, &SetterWindow::CmdRd_Click);
    connect(CmdWr, &QToolButton::clicked, this, &SetterWindow::CmdWr_Click);
    connect(CmdClear, &QToolButton::clicked, this, &SetterWindow::CmdClear_Click);
    connect(MSC1.get(), &SerialControl::OnComm, this, &SetterWindow::MSC1_OnComm);
    connect(TmrRx, &Timer::Tick, this, &SetterWindow::TmrRx_Timer);
    connect(this, &SetterWindow::MouseDown, this, &SetterWindow::Form_MouseDown);

    for (int n = FirstPort; n <= LastPort; ++n)
        connect(OptCom(n), &QRadioButton::clicked, this, clicks[n - FirstPort]);
}

SetterWindow::~SetterWindow() = default;

void SetterWindow::Form_Load()
{
    PortProbe(*MSC1, [this](int port) { OptCom(port)->setEnabled(false); });
}

void SetterWindow::CmdVersion_Click()
{
    LblVersion->clear();
    sendFrame(CommandFrame(OpVersion));
}

void SetterWindow::CmdTest_Click()
{
    sendFrame(CommandFrame(OpIrTest));
}

void SetterWindow::CmdRd_Click()
{
    sendFrame(CommandFrame(OpRead));
}

void SetterWindow::CmdClear_Click()
{
    TextRec->setPlainText(QString());
}

void SetterWindow::MSC1_OnComm()
{
    switch (MSC1->CommEvent()) {
    case ComEvRxOver:
        // A flood raises this again and again while the box is open: one
        // box says it. Receive events and ticks go on meanwhile, so the
        // buffer is still taken at the next quiet gap.
        if (!m_overflowShown) {
            m_overflowShown = true;
            MsgBox(QStringLiteral("資料接收區超過"));
            m_overflowShown = false;
        }
        break;
    case ComEvReceive:
        TmrRx->setInterval(ReplyGap);
        TmrRx->setEnabled(true);
        break;
    default:
        break;
    }
}

void SetterWindow::TmrRx_Timer()
{
    TmrRx->setEnabled(false);
    const int n = MSC1->InBufferCount();
    const QByteArray block = MSC1->Input();
    if (block.isEmpty())
        return; // a port switch emptied the buffer since the last chunk
    switch (static_cast<unsigned char>(block[0])) {
    case OpVersion:
        LblVersion->setText(versionText(block, n));
        break;
    case OpRead:
        parameterReply(block);
        break;
    default:
        break;
    }
}

void SetterWindow::Form_MouseDown(int /*button*/, int shift, float x, float /*y*/)
{
    const bool show = RevealGesture(shift, x);
    TextRec->setVisible(show);
    CmdClear->setVisible(show);
}

void SetterWindow::sendFrame(const QByteArray &frame)
{
    if (!MSC1->Output(frame))
        MsgBox(QStringLiteral("COM Port 未開啟，請先選擇設定器所接的 COM Port。"));
}

void SetterWindow::OptCom1_Click() { switchPort(1); }
void SetterWindow::OptCom2_Click() { switchPort(2); }
void SetterWindow::OptCom3_Click() { switchPort(3); }
void SetterWindow::OptCom4_Click() { switchPort(4); }
void SetterWindow::OptCom5_Click() { switchPort(5); }
void SetterWindow::OptCom6_Click() { switchPort(6); }
void SetterWindow::OptCom7_Click() { switchPort(7); }
void SetterWindow::OptCom8_Click() { switchPort(8); }

void SetterWindow::switchPort(int n)
{
    if (PortSwitch(*MSC1, n))
        return;
    // The port went away or another program took it since start. Leave no
    // half-opened port behind and tell the operator which one.
    if (MSC1->PortOpen())
        MSC1->setPortOpen(false);
    MsgBox(QStringLiteral("無法開啟 COM%1，請確認設定器已插入且未被其他程式使用。").arg(n));
}

void SetterWindow::mousePressEvent(QMouseEvent *event)
{
    // Qt hands a press that a label or a frame ignores on to its parent;
    // only a press where no control stands is a press on the window.
    const QPointF pos = event->position();
    if (!childAt(pos.toPoint())) {
        int button = 0;
        switch (event->button()) {
        case Qt::LeftButton: button = 1; break;
        case Qt::RightButton: button = 2; break;
        case Qt::MiddleButton: button = 4; break;
        default: break;
        }
        const Qt::KeyboardModifiers mods = event->modifiers();
        const int shift = (mods & Qt::ShiftModifier ? 1 : 0) | (mods & Qt::ControlModifier ? 2 : 0)
            | (mods & Qt::AltModifier ? 4 : 0);
        emit MouseDown(button, shift, float(toTwips(pos.x())), float(toTwips(pos.y())));
    }
    QWidget::mousePressEvent(event);
}

void SetterWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shownBefore)
        return;
    m_shownBefore = true;
    // The window opens with the keyboard on the first control of the tab
    // order that can take it; the probe may have disabled the first ports.
    for (QWidget *w : std::as_const(m_tabOrder)) {
        if (w->isEnabled() && w->isVisibleTo(this) && (w->focusPolicy() & Qt::TabFocus)) {
            w->setFocus(Qt::TabFocusReason);
            break;
        }
    }
}

void SetterWindow::MsgBox(const QString &text)
{
    ombrix::MsgBox(this, m_programTitle, text);
}

} // namespace ombrix
