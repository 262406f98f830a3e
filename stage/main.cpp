#include "frmombrixstage.h"
#include "qtserialcontrol.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ombrix5"));

    ombrix::FrmOmbrixStage window(std::make_unique<ombrix::QtSerialControl>());
    window.Form_Load();
    window.show();
    return app.exec();
}
