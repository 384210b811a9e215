#include "configwindow.h"

#include <QPointer>

// Placeholder until the configuration window lands.
namespace {
QPointer<ConfigWindow> s_instance;
}

ConfigWindow::ConfigWindow(QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("ZELMAR CONFIG "));
}

ConfigWindow *CONFIG1()
{
    if (!s_instance)
        s_instance = new ConfigWindow;
    return s_instance;
}
