#include "historywiring.h"

#include "chartprint.h"
#include "forwarder.h"
#include "overviewprint.h"
#include "overviewwindow.h"
#include "shared.h"

#include <QPainter>
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

History::ChartDocument overviewDocument(const OverviewWindow *overview)
{
    const auto [from, to] = History::overviewRange(overview->chart());
    return {History::printTitle(overview, from, to),
            History::curveLegend({true, true, true, true, true}, true),
            QString::fromUtf8(History::kValueAxisName),
            QString::fromUtf8(History::kRetransmissionAxisName),
            QString::fromUtf8(History::kTimeAxisName)};
}

OtherChart overviewChart(const OverviewWindow *overview)
{
    return {[overview] { return overviewDocument(overview); },
            [overview](QPainter &painter, const QRect &area) {
                History::paintOverviewChart(painter, area, overview);
            },
            [overview] { return History::overviewChartArea(overview).size(); }};
}

bool printOverview(OverviewWindow *overview, QPrinter &printer)
{
    const OtherChart chart = overviewChart(overview);
    return History::printDocument(printer, chart.document(), chart.painter);
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
        History::askAndPrint(overview,
                             [overview](QPrinter &printer) { printOverview(overview, printer); });
    });
}
