#include "commandline.h"
#include "splash.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // An action on the command line runs without a window (and without a display).
    if (isCommandLineAction(argc, argv))
        return runCommandLine(argc, argv);
    QApplication app(argc, argv);
    nameTool();
    startTool();
    return app.exec();
}
