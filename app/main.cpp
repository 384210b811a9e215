#include "splash.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("ZELMAR"));
    QCoreApplication::setApplicationName(QStringLiteral("zelmar"));
    startTool();
    return app.exec();
}
