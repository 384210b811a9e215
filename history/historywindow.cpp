#include "historywindow.h"

#include "chartdocument.h"
#include "clock.h"
#include "controlname.h"
#include "daytime.h"
#include "fittedtext.h"
#include "historianurl.h"
#include "historychart.h"
#include "historyrange.h"
#include "historyscaling.h"
#include "numbers.h"
#include "rowquality.h"
#include "savedialog.h"
#include "shared.h"
#include "stationsource.h"
#include "unitdialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QShortcut>
#include <QThread>
#include <QVBoxLayout>

#include <cmath>

namespace
{
constexpr int kPanDivisor = 4; // a pan moves a quarter of the span
constexpr int kMinimumSpanSeconds = 10;
constexpr int kDefaultSeconds = 3600; // the window opens on the last hour
constexpr int kOverviewRange = 0;     // the entries of the Y range choice
constexpr int kAutomaticRange = 1;
constexpr int kStationCharacters = 24; // the station box shows a name this long
constexpr int kCurveKeyWidth = 24;     // pixels of a curve's colour key beside its check box

const std::array<const char *, 5> kQuickCaptions = {"10 分钟", "1 小时", "8 小时", "24 小时",
                                                    "7 天"};

QString ringText(RecordTable ring)
{
    return ring == RecordTable::PvData ? QStringLiteral("1 秒记录 pv_data，采样间隔 1 s")
                                       : QStringLiteral("10 秒记录 Lpv_wdjl，采样间隔 10 s");
}

QString secondsText(double days)
{
    return doubleText(std::round(days * kSecondsPerDay)) + QStringLiteral(" s");
}
} // namespace

HistoryWindow::HistoryWindow(const HistorySettings &settings, Print::PrintableChart overview,
                             const QWidget *linkLists, QWidget *parent)
    : QWidget(parent, Qt::Window), m_overview(std::move(overview)), m_linkLists(linkLists),
      m_databasePath(settings.databasePath),
      m_reading(new History::RangeReading(settings.databasePath, this)),
      m_historianUrl(settings.historianUrl)
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("历史曲线"));
    buildControls();
    connect(m_reading, &History::RangeReading::answered, this, &HistoryWindow::showLocalRange);
    m_stationEdit->setText(settings.station);
    resize(1100, 680);
    showLast(kDefaultSeconds);
}

HistoryWindow::~HistoryWindow()
{
    m_reader.close();
}

void HistoryWindow::buildControls()
{
    auto *column = new QVBoxLayout(this);
    auto *rangeRow = new QHBoxLayout;
    column->addLayout(rangeRow);
    const auto dateEdit = [this](const QString &name) {
        auto *edit = new QDateTimeEdit(this);
        edit->setObjectName(name);
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QLatin1String(kMomentFormat));
        return edit;
    };
    m_fromEdit = dateEdit(QStringLiteral("fromEdit"));
    m_toEdit = dateEdit(QStringLiteral("toEdit"));
    rangeRow->addWidget(new QLabel(QStringLiteral("从"), this));
    rangeRow->addWidget(m_fromEdit);
    rangeRow->addWidget(new QLabel(QStringLiteral("到"), this));
    rangeRow->addWidget(m_toEdit);
    const auto addButton = [this](QHBoxLayout *row, const QString &name, const QString &caption) {
        auto *button = new QPushButton(caption, this);
        button->setObjectName(name);
        row->addWidget(button);
        return button;
    };
    connect(addButton(rangeRow, QStringLiteral("showButton"), QStringLiteral("显示")),
            &QPushButton::clicked, this,
            [this] { showRange(m_fromEdit->dateTime(), m_toEdit->dateTime()); });
    for (std::size_t i = 0; i < kQuickSeconds.size(); ++i) {
        const int seconds = kQuickSeconds[i];
        connect(addButton(rangeRow, controlName("quick", int(i)),
                          QStringLiteral("最近 ") + QString::fromUtf8(kQuickCaptions[i])),
                &QPushButton::clicked, this, [this, seconds] { showLast(seconds); });
    }
    // "现在": the span shown, moved to end now.
    connect(addButton(rangeRow, QStringLiteral("nowButton"), QStringLiteral("现在")),
            &QPushButton::clicked, this, [this] {
                const qint64 span = m_fromEdit->dateTime().secsTo(m_toEdit->dateTime());
                showLast(int(std::max<qint64>(kMinimumSpanSeconds, span)));
            });
    // The source: this PC's recording, or any station on the historian.
    m_sourceChoice = new QComboBox(this);
    m_sourceChoice->setObjectName(QStringLiteral("sourceChoice"));
    m_sourceChoice->addItem(QStringLiteral("本地数据库"));
    m_stationEdit = new QLineEdit(this);
    m_stationEdit->setObjectName(QStringLiteral("stationEdit"));
    m_stationEdit->setPlaceholderText(QStringLiteral("站名"));
    m_stationEdit->setEnabled(false);
    if (!m_historianUrl.isEmpty())
        m_sourceChoice->addItem(QStringLiteral("历史库 ") +
                                parseHistorianUrl(m_historianUrl).address());
    else
        m_sourceChoice->setEnabled(false);
    // The source, the station and what was read on a row of their own: the
    // range row is full from 1280 pixels on, and the station's name and a
    // server's reason need room.
    rangeRow->addStretch();
    auto *sourceRow = new QHBoxLayout;
    column->addLayout(sourceRow);
    sourceRow->addWidget(new QLabel(QStringLiteral("数据源"), this));
    sourceRow->addWidget(m_sourceChoice);
    sourceRow->addWidget(new QLabel(QStringLiteral("站名"), this));
    m_stationEdit->setMinimumWidth(
        m_stationEdit->fontMetrics().horizontalAdvance(QLatin1Char('x')) * kStationCharacters);
    sourceRow->addWidget(m_stationEdit, 1);
    connect(m_sourceChoice, &QComboBox::activated, this, [this](int index) {
        setSource(index == 0 ? Source::Local : Source::Historian, m_stationEdit->text());
    });
    connect(m_stationEdit, &QLineEdit::editingFinished, this, [this] {
        if (m_source == Source::Historian)
            load(m_shownFrom, m_shownTo);
    });
    m_ringLabel = new FittedLabel(this);
    m_ringLabel->setObjectName(QStringLiteral("ringLabel"));
    m_ringLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    sourceRow->addWidget(m_ringLabel, 2);
    // The operator names the linear channels' units here as in "通讯状态";
    // the names hold for this tool's own link and recorder.
    m_unitsButton =
        addButton(sourceRow, QStringLiteral("unitsButton"), QStringLiteral("单位名称…"));
    connect(m_unitsButton, &QPushButton::clicked, this, [this] { openUnitDialog(this); });

    auto *viewRow = new QHBoxLayout;
    column->addLayout(viewRow);
    // Each check box carries its curve's colour key, as the print's legend does.
    const QVector<Print::LegendEntry> keys = Print::curveLegend({true, true, true, true, true});
    const QSize keySize(kCurveKeyWidth, fontMetrics().height());
    for (int k = 0; k < History::kCurveCount; ++k) {
        m_curveBoxes[k] = new QCheckBox(QString::fromUtf8(History::kCurveNames[k]), this);
        m_curveBoxes[k]->setObjectName(controlName("curve", k));
        m_curveBoxes[k]->setIcon(QIcon(Print::swatchPicture(keys.at(k), keySize)));
        m_curveBoxes[k]->setIconSize(keySize);
        m_curveBoxes[k]->setChecked(true);
        viewRow->addWidget(m_curveBoxes[k]);
        connect(m_curveBoxes[k], &QCheckBox::toggled, this, [this] {
            m_chart->setShown(shownCurves());
            showUnits();
        });
    }
    m_rangeChoice = new QComboBox(this);
    m_rangeChoice->setObjectName(QStringLiteral("rangeChoice"));
    m_rangeChoice->addItems({QStringLiteral("Y 范围同总览"), QStringLiteral("Y 范围自动")});
    // Automatic at first: the overview's start range (0 .. 1500) would press
    // most recordings into the bottom of the chart.
    m_rangeChoice->setCurrentIndex(kAutomaticRange);
    viewRow->addWidget(m_rangeChoice);
    connect(m_rangeChoice, &QComboBox::currentIndexChanged, this, [this](int choice) {
        m_chart->setValueRange(choice == kOverviewRange
                                   ? std::optional(History::ValueRange{ChartLow, ChartSpan})
                                   : std::nullopt);
    });
    viewRow->addStretch();
    m_backButton = addButton(viewRow, QStringLiteral("backButton"), QStringLiteral("后退"));
    connect(m_backButton, &QPushButton::clicked, this, &HistoryWindow::backOut);
    connect(addButton(viewRow, QStringLiteral("exportCsvButton"), QStringLiteral("导出 CSV")),
            &QPushButton::clicked, this, &HistoryWindow::askCsv);
    auto *pngButton =
        addButton(viewRow, QStringLiteral("exportPngButton"), QStringLiteral("导出 PNG"));
    auto *pngMenu = new QMenu(pngButton);
    pngMenu->addAction(QStringLiteral("历史曲线"), this, [this] { askPng(false, 1); });
    pngMenu->addAction(QStringLiteral("历史曲线 ×2"), this, [this] { askPng(false, 2); });
    if (m_overview.painter) {
        pngMenu->addAction(QStringLiteral("总览曲线"), this, [this] { askPng(true, 1); });
        pngMenu->addAction(QStringLiteral("总览曲线 ×2"), this, [this] { askPng(true, 2); });
    }
    pngButton->setMenu(pngMenu);
    const auto print = [this] {
        Print::askAndPrint(this, [this](QPrinter &printer) { printTo(printer); });
    };
    connect(addButton(viewRow, QStringLiteral("printButton"), QStringLiteral("F3 打印")),
            &QPushButton::clicked, this, print);
    connect(new QShortcut(QKeySequence(Qt::Key_F3), this), &QShortcut::activated, this, print);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this,
            &QWidget::close);

    // The value axis's title: what the shown channels' values are in.
    m_axisTitle = new FittedLabel(this);
    m_axisTitle->setObjectName(QStringLiteral("valueAxisTitle"));
    m_axisTitle->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_axisTitle->setWholeText(QStringLiteral("测量值"));
    m_axisTitle->setStyleSheet(
        QStringLiteral("color: %1").arg(QColor(History::kValueAxisColour).name()));
    column->addWidget(m_axisTitle);
    m_chart = new HistoryChart(this);
    m_chart->setObjectName(QStringLiteral("historyChart"));
    m_chart->setValueRange(std::nullopt);
    column->addWidget(m_chart, 1);
    connect(m_chart, &HistoryChart::zoomRequested, this, &HistoryWindow::zoomTo);
    connect(m_chart, &HistoryChart::panRequested, this, &HistoryWindow::pan);
    connect(m_chart, &HistoryChart::cursorMoved, this, &HistoryWindow::showCursor);
    connect(m_chart, &HistoryChart::markerPlaced, this, &HistoryWindow::placeMarker);
    connect(new QShortcut(QKeySequence(Qt::Key_Backspace), m_chart), &QShortcut::activated, this,
            &HistoryWindow::backOut);

    m_cursorReadout = new FittedLabel(this);
    m_cursorReadout->setObjectName(QStringLiteral("cursorReadout"));
    m_markerReadout = new FittedLabel(
        QStringLiteral("单击: 标记 A，右键单击: 标记 B；拖动: 放大；←/→: 平移；退格: 后退"), this);
    m_markerReadout->setObjectName(QStringLiteral("markerReadout"));
    // The read-outs take the width the window has and cut what does not fit:
    // no text, however long, widens the window.
    for (FittedLabel *readout : {m_cursorReadout, m_markerReadout})
        readout->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(m_cursorReadout);
    column->addWidget(m_markerReadout);
}

std::array<bool, History::kCurveCount> HistoryWindow::shownCurves() const
{
    std::array<bool, History::kCurveCount> shown{};
    for (int k = 0; k < History::kCurveCount; ++k)
        shown[k] = m_curveBoxes[k]->isChecked();
    return shown;
}

bool HistoryWindow::showRange(const QDateTime &from, const QDateTime &to)
{
    if (!from.isValid() || !to.isValid() || from > to)
        return false;
    applyRange(from, to);
    return true;
}

void HistoryWindow::showLast(int seconds)
{
    const QDateTime now = SystemClock::now();
    showRange(now.addSecs(-seconds), now);
}

void HistoryWindow::applyRange(const QDateTime &from, const QDateTime &to)
{
    if (m_shownFrom.isValid() && m_shownTo > m_shownFrom)
        m_steps.append({m_shownFrom, m_shownTo});
    load(from, to);
}

void HistoryWindow::zoomTo(double from, double to)
{
    applyRange(m_chart->axis().instantAt(from), m_chart->axis().instantAt(to));
}

void HistoryWindow::backOut()
{
    if (m_steps.isEmpty())
        return;
    const auto [from, to] = m_steps.takeLast();
    load(from, to);
}

void HistoryWindow::pan(int direction)
{
    const qint64 shift = m_shownFrom.msecsTo(m_shownTo) / kPanDivisor * (direction < 0 ? -1 : 1);
    applyRange(m_shownFrom.addMSecs(shift), m_shownTo.addMSecs(shift));
}

void HistoryWindow::setSource(Source source, const QString &station)
{
    m_source = m_historianUrl.isEmpty() ? Source::Local : source;
    if (!station.isEmpty())
        m_stationEdit->setText(station);
    m_sourceChoice->setCurrentIndex(m_source == Source::Local ? 0 : 1);
    m_stationEdit->setEnabled(m_source == Source::Historian);
    load(m_shownFrom, m_shownTo);
}

bool HistoryWindow::isReading() const
{
    return m_source == Source::Local ? m_reading->isBusy() : m_stationRequest != m_stationAnswered;
}

QString HistoryWindow::stationSource() const
{
    return addressWithStation(m_historianUrl, m_stationEdit->text().trimmed());
}

void HistoryWindow::loadFromHistorian(const TimeAxis &axis, double from, double to)
{
    const RecordTable ring = History::stationRing(from, to, std::nullopt);
    const QDateTime first = axis.instantAt(from);
    const QDateTime last = axis.instantAt(to);
    const int request = ++m_stationRequest;
    const QString source = stationSource();
    m_ringLabel->setWholeText(QStringLiteral("正在读取历史库 …"));
    // The server may be slow or away: the reading runs on a thread of its own
    // and its answer comes back to this window, if it is still open and the
    // range still the one asked for.
    QPointer<HistoryWindow> window(this);
    QThread *reading =
        QThread::create([window, request, source, ring, axis, first, last, from, to] {
            QString error;
            const std::optional<History::StationRange> range =
                History::readStationRange(source, ring, first, last, true, &error);
            QMetaObject::invokeMethod(
                qApp,
                [window, request, range, error, ring, axis, from, to] {
                    if (window)
                        window->showStationRange(request, range, error, ring, axis, from, to);
                },
                Qt::QueuedConnection);
        });
    connect(reading, &QThread::finished, reading, &QObject::deleteLater);
    reading->start();
}

void HistoryWindow::showStationRange(int request, const std::optional<History::StationRange> &range,
                                     const QString &error, RecordTable ring, const TimeAxis &axis,
                                     double from, double to)
{
    if (request != m_stationRequest || m_source != Source::Historian)
        return;
    m_stationAnswered = request;
    m_ring = ring;
    m_ringLabel->setWholeText(range ? QStringLiteral("历史库 %1: ").arg(m_stationEdit->text()) +
                                          ringText(ring)
                                    : error.simplified());
    // The server's rows carry their offsets: each stands at its own instant.
    const QVector<RingRow> rows = range ? range->rows : QVector<RingRow>{};
    // Each row in the station's scaling of its moment, as the server has it; a
    // station that never sent one reads raw.
    m_chart->setContent(
        rows, History::placeRows(rows, axis), ring, axis, from, to,
        History::scaleRows(rows, range ? ScalingTimeline(range->scaling) : ScalingTimeline()));
    // The station's own journal, from the server: never this PC's.
    m_chart->setEvents(
        range ? History::chartEventsOf(range->events, from, to, m_chart->places(), axis)
              : History::ChartEvents{});
    m_cursorReadout->clear();
    showUnits();
}

void HistoryWindow::load(const QDateTime &from, const QDateTime &to)
{
    // The range asked for last: pans and "后退" go on from it while it is read.
    m_shownFrom = from;
    m_shownTo = to;
    // The axis runs with real time from the range's start, where its places
    // are the local times; rows and events stand at their instants on it.
    const TimeAxis axis(QTimeZone::systemTimeZone(), from);
    m_fromEdit->setDateTime(from.toLocalTime());
    m_toEdit->setDateTime(to.toLocalTime());
    m_backButton->setEnabled(!m_steps.isEmpty());
    if (m_source == Source::Historian) {
        m_reading->cancel();
        loadFromHistorian(axis, axis.positionOf(from), axis.positionOf(to));
        return;
    }
    // Read on the reading's thread: the chart keeps the range before until
    // the rows and events of this one are in.
    m_ringLabel->setWholeText(QStringLiteral("正在读取 …"));
    m_reading->ask(from, to);
}

void HistoryWindow::showLocalRange(const History::LocalRange &range)
{
    if (m_source != Source::Local)
        return;
    if (!range.opened) {
        m_ringLabel->setWholeText(range.error);
        m_chart->setContent({}, {}, m_ring, range.axis, range.from, range.to);
        m_chart->setEvents({});
    } else {
        m_ring = range.ring;
        m_ringLabel->setWholeText(range.read.ok ? ringText(m_ring) : range.read.error);
        m_chart->setContent(range.read.rows, range.places, m_ring, range.axis, range.from, range.to,
                            range.scaling);
        m_chart->setEvents(range.events);
    }
    m_cursorReadout->clear();
    showUnits();
    emit rangeShown(range.from, range.to);
}

bool HistoryWindow::openReader()
{
    // Opened on first need and again while it fails: the recorder may create
    // the file later.
    return m_reader.isOpen() || m_reader.open(m_databasePath) == RingReader::OpenResult::Opened;
}

void HistoryWindow::showCursor(int row)
{
    if (row < 0) {
        m_cursorReadout->clear();
        return;
    }
    const RingRow &r = m_chart->rows().at(row);
    QString text = History::instantText(m_chart->axis().instantAt(m_chart->places().at(row)));
    for (int k = 0; k < History::kCurveCount; ++k)
        text += QStringLiteral("   %1 %2")
                    .arg(QString::fromUtf8(History::kCurveNames[k]),
                         History::valueText(k, r.values[k], m_chart->scaling().at(row, k)));
    // The link's state when the row was taken; a row of unknown quality
    // (recorded by an earlier version) says nothing rather than guess.
    const std::optional<RowQuality> quality =
        r.quality ? rowQualityFromCode(*r.quality) : std::nullopt;
    if (quality)
        text += QStringLiteral("   ") + rowQualityWord(*quality);
    if (m_chart->pointedMoment() &&
        History::within(m_chart->events().notRecorded, *m_chart->pointedMoment()))
        text += QStringLiteral("   未记录 (工具未运行)");
    const QString marks = History::nearMarksText(m_chart->marksNearRow(row, kReadoutMarks));
    if (!marks.isEmpty())
        text += QStringLiteral("   ") + marks;
    m_cursorReadout->setWholeText(text);
}

void HistoryWindow::placeMarker(int which, double moment)
{
    const int row = m_chart->rowNearest(moment);
    m_chart->setMarker(which, row < 0 ? std::optional<double>()
                                      : std::optional(m_chart->places().at(row)));
    showMarkers();
}

void HistoryWindow::showMarkers()
{
    const auto a = m_chart->marker(0);
    const auto b = m_chart->marker(1);
    if (!a || !b)
        return;
    if (m_chart->rows().isEmpty())
        return;
    const int rowA = m_chart->rowNearest(*a);
    const int rowB = m_chart->rowNearest(*b);
    const RingRow &ra = m_chart->rows().at(rowA);
    const RingRow &rb = m_chart->rows().at(rowB);
    const History::ShownScaling &scaling = m_chart->scaling();
    const TimeAxis &axis = m_chart->axis();
    QString text = QStringLiteral("A %1   B %2   Δt %3")
                       .arg(History::instantText(axis.instantAt(*a)),
                            History::instantText(axis.instantAt(*b)), secondsText(*b - *a));
    for (int k = 0; k < History::kCurveCount; ++k)
        text += QStringLiteral("   Δ%1 %2")
                    .arg(QString::fromUtf8(History::kCurveNames[k]),
                         History::differenceText(k, ra.values[k], scaling.at(rowA, k), rb.values[k],
                                                 scaling.at(rowB, k)));
    m_markerReadout->setWholeText(text);
}

History::RangeExport HistoryWindow::exportCsvTo(const QString &path)
{
    double first = m_chart->from();
    double last = m_chart->to();
    if (m_chart->marker(0) && m_chart->marker(1)) {
        first = std::min(*m_chart->marker(0), *m_chart->marker(1));
        last = std::max(*m_chart->marker(0), *m_chart->marker(1));
    }
    // The export reads local times: those of the two ends, or, near a change
    // of the zone's offset, a stretch that holds both passes of a repeated hour.
    const auto [from, to] = m_chart->axis().localBounds(first, last);
    if (m_source == Source::Local && !openReader()) {
        History::RangeExport failed;
        failed.fault = History::RangeFault::ReadFailed;
        failed.message = m_reader.lastError();
        m_markerReadout->setWholeText(failed.message);
        return failed;
    }
    QProgressDialog progress(QStringLiteral("导出 CSV …"), QStringLiteral("取消"), 0, 100, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    const History::ExportProgress shown = [&progress](qint64 rows, qint64 total) {
        progress.setValue(total > 0 ? int(rows * 100 / total) : 100);
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    };
    const History::RangeExport done =
        m_source == Source::Historian
            ? History::exportStation(stationSource(), from, to, m_ring, path, shown)
            : History::exportRange(m_reader, from, to, m_ring, path, shown);
    m_markerReadout->setWholeText(done.fault == History::RangeFault::None
                                      ? QStringLiteral("已导出 %1 行到 %2").arg(done.rows).arg(path)
                                      : done.message);
    return done;
}

Print::ChartDocument HistoryWindow::document() const
{
    const std::array<bool, History::kCurveCount> shown = shownCurves();
    Print::ChartDocument document;
    const double from = m_chart->axis().localSerialAt(m_chart->from());
    const double to = m_chart->axis().localSerialAt(m_chart->to());
    document.title = m_source == Source::Historian
                         ? Print::stationPrintTitle(m_stationEdit->text().trimmed(), from, to)
                         : Print::printTitle(m_linkLists, from, to);
    document.legend = Print::curveLegend(shown, false, curveTitles());
    document.valueAxis = History::valueAxisTitle(shown, m_chart->scaling().labels);
    if (shown[History::kCurveCount - 1])
        document.retransmissionAxis = QString::fromUtf8(Print::kRetransmissionAxisName);
    document.timeAxis = QString::fromUtf8(Print::kTimeAxisName);
    return document;
}

std::array<QString, History::kCurveCount> HistoryWindow::curveTitles() const
{
    std::array<QString, History::kCurveCount> titles;
    for (int k = 0; k < History::kCurveCount; ++k)
        titles[k] = History::curveTitle(k, k < kScaledChannels ? m_chart->scaling().labels[k]
                                                               : QStringList());
    return titles;
}

void HistoryWindow::showUnits()
{
    // The check boxes keep their short names, so that the window keeps its
    // width whatever units a range brings; the line above the chart names
    // each channel's units, and a box's tool tip its own.
    const std::array<QString, History::kCurveCount> titles = curveTitles();
    for (int k = 0; k < History::kCurveCount; ++k)
        m_curveBoxes[k]->setToolTip(titles[k]);
    m_axisTitle->setWholeText(History::valueAxisTitle(shownCurves(), m_chart->scaling().labels));
}

Print::ChartPainter HistoryWindow::chartPainter() const
{
    return [chart = m_chart](QPainter &painter, const QRect &area) {
        painter.translate(area.topLeft());
        chart->render(painter, area.size());
    };
}

bool HistoryWindow::saveHistoryPicture(const QString &path, int scale)
{
    return Print::savePng(
        Print::documentPicture(m_chart->size(), scale, document(), chartPainter()), path);
}

bool HistoryWindow::saveOverviewPicture(const QString &path, int scale)
{
    if (!m_overview.painter)
        return false;
    return Print::savePng(
        Print::documentPicture(m_overview.size(), scale, m_overview.document(), m_overview.painter),
        path);
}

bool HistoryWindow::printTo(QPrinter &printer)
{
    return Print::printDocument(printer, document(), chartPainter());
}

void HistoryWindow::askCsv()
{
    const QString path = askSaveFileName(
        this, QStringLiteral("导出 CSV"),
        QStringLiteral("zelmar-%1.csv")
            .arg(m_shownFrom.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmm"))),
        QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty())
        exportCsvTo(path);
}

void HistoryWindow::askPng(bool overview, int scale)
{
    const QString path =
        askSaveFileName(this, QStringLiteral("导出 PNG"), QStringLiteral("zelmar-chart.png"),
                        QStringLiteral("PNG (*.png)"));
    if (path.isEmpty())
        return;
    const bool saved =
        overview ? saveOverviewPicture(path, scale) : saveHistoryPicture(path, scale);
    m_markerReadout->setWholeText(saved ? QStringLiteral("已保存 ") + path
                                        : QStringLiteral("无法保存 ") + path);
}
