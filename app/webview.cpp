#include "webview.h"

#include "alarmannunciator.h"
#include "chartgeometry.h"
#include "healthmonitor.h"
#include "healthtexts.h"
#include "inputchanges.h"
#include "linkquality.h"
#include "livedisplay.h"
#include "notliveband.h"
#include "overviewwindow.h"
#include "poller.h"
#include "recordingstate.h"
#include "scalingwatch.h"
#include "shared.h"
#include "statusstrip.h"
#include "store.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTextStream>

namespace
{

constexpr int kFirstExtraRegister = 5; // input registers 6..8 follow the five drawn values

QString linkStateName(LinkState state)
{
    switch (state) {
    case LinkState::NotOpened:
        return QStringLiteral("not-opened");
    case LinkState::Opening:
        return QStringLiteral("opening");
    case LinkState::Live:
        return QStringLiteral("live");
    case LinkState::NoAnswer:
        return QStringLiteral("no-answer");
    case LinkState::PortLost:
        return QStringLiteral("port-lost");
    case LinkState::OpenFailed:
        return QStringLiteral("open-failed");
    }
    return {};
}

QString rgbaText(const QColor &colour)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue())
        .arg(colour.alphaF(), 0, 'f', 2);
}

// The chart colours of our own views, for the page's trend: the overview's,
// with the retransmission value in the blue that tells it from channel 1.
Web::ChartLook ownViewLook()
{
    Web::ChartLook look;
    for (int k = 0; k < Web::kDrawnCurves; ++k)
        look.curves[k] = colourText(Chart::kChannelColours[k]);
    look.curves[Web::kDrawnCurves - 1] = colourText(Chart::kRetransmissionViewColour);
    look.background = Chart::gridBackground().name();
    look.grid = Chart::gridPen().name();
    look.band = rgbaText(Chart::notLiveBandColour());
    return look;
}

void sayOnce(const QString &line)
{
    QTextStream(stderr) << "zelmar: " << line << '\n';
}

} // namespace

QCommandLineOption webOption()
{
    return QCommandLineOption(
        QStringLiteral("web"),
        QStringLiteral("Serve a read-only web view of the live values, trend and journal on "
                       "ADDRESS:PORT (127.0.0.1:8080; an address others can reach needs "
                       "$ZELMAR_WEB_TOKEN; TLS with $ZELMAR_WEB_CERT and $ZELMAR_WEB_KEY)."),
        QStringLiteral("ADDRESS:PORT"));
}

QString webOptionValue(const QStringList &arguments)
{
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--web"))
            return i + 1 < arguments.size() ? arguments.at(i + 1) : QString();
        if (arguments.at(i).startsWith(QLatin1String("--web=")))
            return arguments.at(i).mid(6);
    }
    return {};
}

WebSettings webSettings(const QString &value, const QProcessEnvironment &environment,
                        const QList<int> &addresses, const QMap<int, QString> &databases,
                        QString &error)
{
    WebSettings settings;
    settings.listen = Web::parseListenAddress(value);
    settings.token = environment.value(QStringLiteral("ZELMAR_WEB_TOKEN"));
    settings.certificatePath = environment.value(QStringLiteral("ZELMAR_WEB_CERT"));
    settings.keyPath = environment.value(QStringLiteral("ZELMAR_WEB_KEY"));
    settings.addresses = addresses;
    settings.databases = databases;
    settings.look = ownViewLook();
    if (!settings.listen.isValid())
        error = settings.listen.error;
    else if (Web::reachableFromOutside(settings.listen.host) && settings.token.isEmpty())
        error = QStringLiteral("--web %1 can be reached from other computers: set "
                               "ZELMAR_WEB_TOKEN to the token every request must carry, or "
                               "listen on 127.0.0.1")
                    .arg(value);
    else if (settings.certificatePath.isEmpty() != settings.keyPath.isEmpty())
        error = QStringLiteral("TLS needs both ZELMAR_WEB_CERT and ZELMAR_WEB_KEY");
    return settings;
}

LiveSnapshot snapshotOfTables(const PolledState &polled, quint64 sequence, const QDateTime &now)
{
    LiveSnapshot s;
    s.address = polled.address;
    s.moduleAddress = polled.moduleAddress;
    s.sequence = sequence;
    s.time = now;
    for (int i = 0; i < LiveSnapshot::kValues; ++i)
        s.values[i] = ProcessValues[i];
    for (int i = 0; i < LiveSnapshot::kExtras; ++i)
        s.extras[i] = ProcessValues[kFirstExtraRegister + i];
    const RowQuality quality =
        instrumentRowQuality(polled.state, polled.cameFrom, polled.valuesRead);
    s.valuesStale = staleReading(polled.state, polled.tables.values);
    s.quality = int(quality);
    s.qualityText = rowQualityWord(quality);
    for (int i = 0; i < LiveSnapshot::kInputs; ++i) {
        s.inputs[i] = InputStates[i] != 0;
        const LiveDisplay::BoxLook look = LiveDisplay::statusLook(i, InputStates[i]);
        const TableFreshness &half =
            i < LiveSnapshot::kInputs / 2 ? polled.tables.inputsLow : polled.tables.inputsHigh;
        s.inputBoxes[i] = {Journal::stateName(i), look.text, look.background.name(),
                           staleReading(polled.state, half)};
    }
    for (int i = 0; i < LiveSnapshot::kRelays; ++i) {
        s.relays[i] = CoilStates[i] != 0;
        const LiveDisplay::BoxLook look = LiveDisplay::relayLook(i, CoilStates[i]);
        s.relayBoxes[i] = {Journal::stateName(Journal::kDiscreteInputs + i), look.text,
                           look.background.name(),
                           staleReading(polled.state, polled.tables.relays)};
    }
    s.linkState = linkStateName(polled.state);
    s.linkText = HealthTexts::linkStateText(polled.state);
    s.linkColour = HealthTexts::linkStateColour(polled.state).name();
    s.linkReason = polled.state == LinkState::Live ? QString() : polled.reason;
    s.linkDetail = HealthTexts::linkDetailText(polled.state, s.linkReason, polled.lastReply, now);
    s.lastReply = polled.lastReply;
    if (polled.recording) {
        const RecordingStatus &status = polled.recording->status();
        s.recording = polled.recording->known() && status.recording;
        s.recordingText = HealthTexts::recordingText(status, polled.recording->known(), now);
        s.recordingColour = HealthTexts::recordingColour(status, polled.recording->known()).name();
    }
    s.unacknowledged = polled.unacknowledged;
    s.scaling = polled.scaling;
    return s;
}

void startWindowedWebView(const QString &value)
{
    if (value.isEmpty())
        return;
    QString error;
    const WebSettings settings = webSettings(value, QProcessEnvironment::systemEnvironment(), {1},
                                             {{1, databasePath()}}, error);
    auto *view = new WebView(settings, QCoreApplication::instance());
    if (error.isEmpty())
        error = view->start();
    auto *field = new QLabel;
    field->setObjectName(QStringLiteral("WebViewField"));
    field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    if (!error.isEmpty()) {
        delete view;
        sayOnce(error);
        field->setText(QStringLiteral("网页视图未启动"));
        field->setToolTip(error);
        field->setStyleSheet(QStringLiteral("color: #d20000"));
    } else {
        field->setText(QStringLiteral("网页视图 ") + view->url());
    }
    if (auto *strip = ssqx()->findChild<StatusStrip *>(QStringLiteral("StatusStrip")))
        strip->addWebField(field);
    else
        delete field;
    if (!error.isEmpty())
        return;
    // The row quality follows the link's state and where it came from, as the recorder's does.
    struct Follow {
        LinkState state = LinkState::NotOpened;
        LinkState cameFrom = LinkState::NotOpened;
        PolledTables tables;
        quint64 sequence = 0;
    };
    auto follow = std::make_shared<Follow>();
    QObject::connect(linkHealth(), &LinkHealth::stateChanged, view,
                     [follow](LinkState from, LinkState to) {
                         follow->cameFrom = from;
                         follow->state = to;
                         // A port opened anew shows what it has read since.
                         if (to == LinkState::Opening)
                             follow->tables.reset();
                     });
    QObject::connect(Met1(), &Poller::polled, view, [view, follow](const PollDelivery &delivery) {
        follow->tables.read(delivery);
        PolledState polled;
        // One instrument in the view: the one the overview's last "打开" chose.
        polled.address = 1;
        polled.moduleAddress = linkHealth()->settings().address;
        polled.state = linkHealth()->state();
        polled.cameFrom = follow->cameFrom;
        polled.valuesRead = delivery.registers;
        polled.tables = follow->tables;
        polled.reason = linkHealth()->lastFailureChinese();
        polled.lastReply = linkHealth()->lastGoodExchange();
        polled.recording = toolHealthMonitor(linkHealth())->recording();
        polled.unacknowledged = alarmAnnunciator()->unacknowledgedCount();
        polled.scaling = toolScalingWatch()->known();
        view->publish(snapshotOfTables(polled, ++follow->sequence, QDateTime::currentDateTime()));
    });
}
