#pragma once

// Notes every message box that opens and answers it, so no test can hang on
// a box.

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QList>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace probe {

struct ShownBox
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// Answers each box with OK once it is the active modal widget (at once if
// it is not modal, so such a box fails a test rather than hangs it) and
// holdWhile (if set) is false. whileFirstOpen runs inside the first box's event loop
// before that box is answered.
class BoxWatcher : public QObject
{
public:
    BoxWatcher() { qApp->installEventFilter(this); }
    ~BoxWatcher() override { qApp->removeEventFilter(this); }

    QList<ShownBox> shown;
    // The same boxes' texts and titles, to compare all of them at once.
    QStringList texts;
    QStringList titles;
    int open = 0; // standing open right now
    int maxOpen = 0; // the most that stood open at once
    std::function<void()> whileFirstOpen;
    std::function<bool()> holdWhile;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *box = qobject_cast<QMessageBox *>(watched)) {
                shown.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
                texts << box->text();
                titles << box->windowTitle();
                maxOpen = qMax(maxOpen, ++open);
                answerLater(box, shown.size() == 1 ? whileFirstOpen : nullptr);
            }
        } else if (event->type() == QEvent::Hide && qobject_cast<QMessageBox *>(watched)) {
            --open;
        }
        return false;
    }

private:
    void answerLater(QMessageBox *box, std::function<void()> action)
    {
        // Polled rather than re-posted at once while held, so a held box
        // costs no CPU of its own.
        QTimer::singleShot(holdWhile ? 5 : 0, box, [this, box, action] {
            if ((box->isModal() && QApplication::activeModalWidget() != box) || (holdWhile && holdWhile())) {
                answerLater(box, action);
                return;
            }
            if (action)
                action();
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        });
    }
};

} // namespace probe
