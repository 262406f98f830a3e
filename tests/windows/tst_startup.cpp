// The start-up both programs run: the application named as its desktop
// entry knows it, the ports probed, the window on screen.

#include "fakeserial.h"
#include "frmombrixlevel.h"
#include "frmombrixstage.h"
#include "startup.h"
#include "widgetprobe.h"

#include <QApplication>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace ombrix;

namespace {

using Start = std::unique_ptr<SetterWindow> (*)(std::unique_ptr<SerialControl>);

template <typename Window>
std::unique_ptr<SetterWindow> start(std::unique_ptr<SerialControl> serial)
{
    return startProgram<Window>(std::move(serial));
}

const Start starts[] = {start<FrmOmbrixStage>, start<FrmOmbrixLevel>};

// Notes whether any window was on screen while the probe went through the
// ports.
class WatchedSerial : public FakeSerial
{
public:
    bool shownDuringProbe = false;

    bool setCommPort(int port) override
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        shownDuringProbe |= std::any_of(windows.cbegin(), windows.cend(), [](QWidget *w) { return w->isVisible(); });
        return FakeSerial::setCommPort(port);
    }
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void startsProbedAndShown_data();
    void startsProbedAndShown();
};

void TestStartup::startsProbedAndShown_data()
{
    QTest::addColumn<int>("program");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("desktopEntry");
    QTest::newRow("Ombrix5") << 0 << "Ombrix5" << "ombrix5";
    QTest::newRow("Ombrix3") << 1 << "Ombrix3" << "ombrix3";
}

void TestStartup::startsProbedAndShown()
{
    QFETCH(int, program);
    QFETCH(QString, name);
    QFETCH(QString, desktopEntry);
    auto serial = std::make_unique<WatchedSerial>();
    serial->present = {3, 6};
    WatchedSerial *fake = serial.get();

    const std::unique_ptr<SetterWindow> window = starts[program](std::move(serial));

    QCOMPARE(QApplication::applicationName(), name);
    QCOMPARE(QGuiApplication::desktopFileName(), desktopEntry);
    // Every pass of the probe moved to its port; only the two present ones
    // opened, and each closed again at the next pass.
    const QRegularExpression carriedOut(QStringLiteral("^(port|open|close) \\d$"));
    QCOMPARE(fake->log.filter(carriedOut),
             (QStringList{"port 1", "port 2", "port 3", "open 3", "close 3", "port 4", "port 5", "port 6",
                          "open 6", "close 6", "port 7", "port 8"}));
    for (int n = 1; n <= 8; ++n)
        QCOMPARE(probe::control(window.get(), QStringLiteral("OptCom%1").arg(n))->isEnabled(), n == 3 || n == 6);
    QVERIFY(window->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // The operator never sees the options of absent ports enabled.
    QVERIFY(!fake->shownDuringProbe);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
