#include "scalingwiring.h"

#include "clock.h"
#include "healthmonitor.h"
#include "linkhealth.h"
#include "poller.h"
#include "recorder.h"
#include "ringquery.h"
#include "scalinglog.h"
#include "scalingwatch.h"
#include "shared.h"

#include <QSqlDatabase>

void attachScaling(const QString &databasePath)
{
    ScalingWatch *watch = toolScalingWatch();
    {
        // A database without the table (or none yet) names no unit.
        RingReader reader(QStringLiteral("scaling-units"));
        if (reader.open(databasePath) == RingReader::OpenResult::Opened) {
            if (const std::optional<OperatorUnits> units =
                    readOperatorUnits(QSqlDatabase::database(reader.connectionName(), false)))
                watch->setOperatorUnits(*units);
        }
    }
    // Each opening (the operator's "打开", a lost port reopened) may find
    // another instrument, or one changed at its keys meanwhile.
    QObject::connect(linkHealth(), &LinkHealth::stateChanged, watch,
                     [watch](LinkState, LinkState to) {
                         if (to == LinkState::Opening)
                             watch->requestRead();
                     });
    QObject::connect(Met1(), &Poller::polled, watch, [watch](const PollDelivery &delivery) {
        const LinkSettings &link = linkHealth()->settings();
        watch->afterPoll(CommSettings[CommIndex::Port], CommSettings[CommIndex::Address],
                         link.baudCode, delivery.registers, Met1()->sinceTickStart());
    });
    QObject::connect(watch, &ScalingWatch::scalingChanged, mscom(), [](const KnownScaling &known) {
        mscom()->noteScaling(known, SystemClock::now());
    });
    QObject::connect(watch, &ScalingWatch::readProblem, watch, [](const QString &text) {
        toolHealthMonitor(linkHealth())->noteScaling(text);
    });
}
