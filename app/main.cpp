#include "recordmode.h"
#include "recordoptions.h"
#include "splash.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // --record runs without a display: no QApplication, no window.
    if (wantsRecordMode(QStringList(argv, argv + argc)))
        return runRecordMode(argc, argv);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("ZELMAR"));
    QCoreApplication::setApplicationName(QStringLiteral("zelmar"));
    startTool();
    return app.exec();
}
