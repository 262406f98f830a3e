#pragma once

#include "design.h"
#include "portprobe.h"

#include <QHash>
#include <QWidget>

#include <array>
#include <memory>

class QGroupBox;
class QLabel;
class QMouseEvent;
class QPlainTextEdit;
class QRadioButton;
class QToolButton;

namespace ombrix {

class SerialControl;
class Timer;

// The window base both programs share: it builds a window from its design
// and runs the setter link on the controls every design carries under the
// same names (the port choice, the command buttons, the version display,
// the receive path and the receive log). A window adds its own design, its
// write frame and its parameter reply.
class SetterWindow : public QWidget
{
    Q_OBJECT
public:
    SetterWindow(const QString &programTitle, const Design &design,
                 std::unique_ptr<SerialControl> serial, QWidget *parent = nullptr);
    ~SetterWindow() override;

    // Runs the port probe; call once after building, before showing.
    void Form_Load();

    // Shift alone held, and the press within 200 twips of the left edge.
    static constexpr bool RevealGesture(int shift, float x) { return shift == 1 && x < 200.0f; }

public slots:
    void CmdVersion_Click();
    void CmdTest_Click();
    void CmdRd_Click();
    virtual void CmdWr_Click() = 0;
    void CmdClear_Click();
    void MSC1_OnComm();
    void TmrRx_Timer();
    void Form_MouseDown(int button, int shift, float x, float y);

    void OptCom1_Click();
    void OptCom2_Click();
    void OptCom3_Click();
    void OptCom4_Click();
    void OptCom5_Click();
    void OptCom6_Click();
    void OptCom7_Click();
    void OptCom8_Click();

signals:
    // A press on the window's own surface, not on any of its controls: the
    // button (1 left, 2 right, 4 middle), the keys held (1 Shift, 2 Ctrl,
    // 4 Alt) and the point in twips from the client area's top-left corner.
    void MouseDown(int button, int shift, float x, float y);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void MsgBox(const QString &text);
    // Hands a whole frame to the port; with no port open the operator is
    // told so and nothing else changes.
    void sendFrame(const QByteArray &frame);
    // A reply that starts with OpRead, in the window's own layout.
    virtual void parameterReply(const QByteArray &block) = 0;

    QRadioButton *OptCom(int n) const { return m_optCom[n - FirstPort]; }

    // A control the design built, for a window's constructor to keep a typed
    // pointer to.
    template <typename T> T *built(const QString &key) const
    {
        T *w = qobject_cast<T *>(m_built.value(key));
        Q_ASSERT_X(w, "SetterWindow::built", qPrintable(key));
        return w;
    }

    std::unique_ptr<SerialControl> MSC1;
    Timer *TmrRx;
    Timer *TimerOut;
    QLabel *LblVersion;
    QToolButton *CmdVersion;
    QToolButton *CmdTest;
    QToolButton *CmdRd;
    QToolButton *CmdWr;
    QToolButton *CmdClear;
    QPlainTextEdit *TextRec;
    QGroupBox *FamCOM;

private:
    void switchPort(int n);

    QString m_programTitle;
    QHash<QString, QWidget *> m_built;
    std::array<QRadioButton *, LastPort - FirstPort + 1> m_optCom{};
    QList<QWidget *> m_tabOrder;
    bool m_shownBefore = false;
    bool m_overflowShown = false;
};

} // namespace ombrix
