#include "frmombrixstage.h"
#include "qtserialcontrol.h"
#include "startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Lives as long as the event loop runs.
    const auto window = ombrix::startProgram<ombrix::FrmOmbrixStage>(std::make_unique<ombrix::QtSerialControl>());
    return app.exec();
}
