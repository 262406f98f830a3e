#include "frmombrixstage.h"
#include "qtserialcontrol.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const auto window = ombrix::startProgram<ombrix::FrmOmbrixStage>(std::make_unique<ombrix::QtSerialControl>());
    return app.exec();
}
