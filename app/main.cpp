#include "commandline.h"
#include "recordmode.h"
#include "recordoptions.h"
#include "splash.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // An action on the command line runs without a window (and without a display).
    if (isCommandLineAction(argc, argv))
        return runCommandLine(argc, argv);
    // --record runs without a display: no QApplication, no window.
    if (wantsRecordMode(QStringList(argv, argv + argc)))
        return runRecordMode(argc, argv);
    QApplication app(argc, argv);
    nameTool();
    startTool();
    return app.exec();
}
