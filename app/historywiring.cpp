#include "historywiring.h"

#include "chartdocument.h"
#include "forwarder.h"
#include "overviewprint.h"
#include "overviewwindow.h"
#include "shared.h"

#include <QPointer>
#include <QPrinter>

HistorySettings historySettingsFromEnvironment(const QString &databasePath)
{
    const ForwarderSettings historian = forwarderSettingsFromEnvironment(databasePath, 1, 1, {});
    HistorySettings settings;
    settings.databasePath = databasePath;
    if (historian.target.isValid() && !historian.target.host.isEmpty())
        settings.historianUrl = qEnvironmentVariable(kHistorianEnvironment).trimmed();
    settings.station = historian.station;
    return settings;
}

void attachHistory(OverviewWindow *overview)
{
    QObject::connect(overview, &OverviewWindow::historyRequested, overview, [overview] {
        static QPointer<HistoryWindow> window;
        if (!window) {
            // A window of its own, not a child: the overview's key map sees
            // every key inside the overview, Esc included.
            window = new HistoryWindow(historySettingsFromEnvironment(databasePath()),
                                       overviewChart(overview), overview);
            QObject::connect(overview, &QObject::destroyed, window, &QObject::deleteLater);
        }
        window->show();
        window->raise();
        window->activateWindow();
    });
    QObject::connect(overview, &OverviewWindow::printRequested, overview, [overview] {
        Print::askAndPrint(overview,
                           [overview](QPrinter &printer) { printOverview(overview, printer); });
    });
}
