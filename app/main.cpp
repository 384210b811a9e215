#include "commandline.h"
#include "openoptions.h"
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
    // --open and --mute are checked before any window (and without a display).
    const QStringList arguments(argv, argv + argc);
    const OpenOptions open =
        wantsOpenOptions(arguments) ? parseOpenOptions(arguments) : OpenOptions{};
    if (!open.isValid())
        return refuseOpenOptions(open);
    QApplication app(argc, argv);
    nameTool();
    startTool([open] { applyOpenOptions(open); });
    return app.exec();
}
