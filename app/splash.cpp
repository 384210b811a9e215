#include "splash.h"

#include "alarmannunciator.h"
#include "alarmdisplay.h"
#include "chinese.h"
#include "forwarder.h"
#include "healthmonitor.h"
#include "historywiring.h"
#include "journal.h"
#include "linkhealth.h"
#include "linkquality.h"
#include "overviewwindow.h"
#include "poller.h"
#include "recorder.h"
#include "scalingwiring.h"
#include "shared.h"
#include "statusstrip.h"
#include "twips.h"
#include "windowplacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPointer>
#include <QTimer>

namespace
{
constexpr int kClientWidth = 14985; // twips
constexpr int kClientHeight = 5220;

QStringList &steps()
{
    static QStringList recorded;
    return recorded;
}

std::function<void()> &afterHandOverStep()
{
    static std::function<void()> step;
    return step;
}

// The windows' forwarder: created from the environment ($ZELMAR_HISTORIAN,
// $ZELMAR_STATION; the station's default names serial port 1, the first of the
// overview's list) for the recording database, started, and stopped when the
// application quits. Its status is Off when no historian is configured.
Historian *toolHistorian()
{
    static Historian *const instance = [] {
        auto *historian = new Historian(forwarderSettingsFromEnvironment(databasePath(), 1, 1, {}));
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, historian,
                         &Historian::stop);
        historian->start();
        return historian;
    }();
    return instance;
}

// The alarms' flashing frames over the panel's boxes and their field in the strip.
void attachAlarms(QWidget *overview)
{
    AlarmField *field = attachAlarmDisplay(overview, alarmAnnunciator());
    if (auto *strip = overview->findChild<StatusStrip *>(QStringLiteral("StatusStrip")))
        strip->addAlarmField(field);
    else
        delete field;
}
} // namespace

SplashWindow::SplashWindow(QWidget *parent)
    : QWidget(parent), m_timer2(new QTimer(this)), m_timer1(new QTimer(this))
{
    setObjectName(QStringLiteral("frmSplash"));
    setFixedSize(twipsRect(0, 0, kClientWidth, kClientHeight).size());

    auto *label1 = new QLabel(QStringLiteral("系统正在初始化数据引擎，请稍后。。。。。。"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    QFont font(QStringLiteral("宋体"));
    font.setPointSize(15);
    label1->setFont(font);
    label1->setAlignment(Qt::AlignCenter);
    label1->setGeometry(rect());

    centreOnScreen(this);

    m_timer2->setObjectName(QStringLiteral("Timer2"));
    m_timer2->setInterval(kTickInterval);
    connect(m_timer2, &QTimer::timeout, this, &SplashWindow::onTimer2);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(kHandOverInterval);
    connect(m_timer1, &QTimer::timeout, this, &SplashWindow::onTimer1);

    ChartSpan = kStartChartSpan;
    m_timer2->start();
}

void SplashWindow::keyPressEvent(QKeyEvent *event)
{
    event->accept(); // nothing happens, Esc included
}

void SplashWindow::closeEvent(QCloseEvent *event)
{
    if (m_unloading)
        event->accept();
    else
        event->ignore();
}

void SplashWindow::onTimer2()
{
    ++m_ticks;
    if (m_ticks > kTicksShown) {
        m_timer2->stop();
        m_ticks = 0;
        m_timer1->start();
    }
}

void SplashWindow::onTimer1()
{
    m_timer2->stop();
    m_timer1->stop();

    m_unloading = true;
    close();
    deleteLater();
    steps().append(QStringLiteral("frmSplash"));

    ssqx()->show();
    attachHistory(ssqx());
    steps().append(QStringLiteral("ssqx"));
    Met1();
    steps().append(QStringLiteral("Met1"));
    // Each row says whether it holds a reading of the link at that moment.
    // The live chart breaks its curves at the rows that hold no reading, as
    // the rows reloaded from the database do.
    const LinkQuality *quality = recordQualityOf(mscom(), linkHealth(), Met1());
    ssqx()->setSampleQuality(
        [quality] { return std::optional<qint16>(qint16(quality->current())); });
    toolHealthMonitor(linkHealth())->watchRecorder(mscom());
    attachScaling(mscom()->store().path());
    steps().append(QStringLiteral("mscom"));
    // After the recorder, which creates the database that the forwarder reads.
    toolHealthMonitor(linkHealth())->watchHistorian(toolHistorian());
    startJournal();
    QObject::connect(Met1(), &Poller::polled, eventJournal(), &EventJournal::pollDelivered,
                     Qt::UniqueConnection);
    attachAlarms(ssqx());
    if (afterHandOverStep())
        afterHandOverStep()();
}

SplashWindow *frmSplash()
{
    static QPointer<SplashWindow> instance;
    if (!instance)
        instance = new SplashWindow;
    return instance;
}

void startTool(std::function<void()> afterHandOver)
{
    speakChinese();
    afterHandOverStep() = std::move(afterHandOver);
    // Closing a window never ends the process: only the overview's exit path does.
    QApplication::setQuitOnLastWindowClosed(false);
    frmSplash()->show();
}

const QStringList &handOverSteps()
{
    return steps();
}
