#include "frmombrixstage.h"
#include "qtserialcontrol.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ombrix5"));
    // Ties the window to its desktop entry where the desktop asks by name.
    QApplication::setDesktopFileName(QStringLiteral("ombrix5"));

    ombrix::FrmOmbrixStage window(std::make_unique<ombrix::QtSerialControl>());
    window.Form_Load();
    window.show();
    return app.exec();
}
