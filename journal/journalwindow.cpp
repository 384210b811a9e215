#include "journalwindow.h"

#include "clock.h"
#include "daytime.h"
#include "journal.h"
#include "savedialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

using namespace Journal;

namespace
{

// The kinds offered by the filter, after "全部", in this order.
const std::array<EventKind, 14> kFilterKinds = {
    EventKind::Alarm,    EventKind::OpenCircuit, EventKind::ShortCircuit, EventKind::AlarmOutput,
    EventKind::Relay,    EventKind::ConfigWrite, EventKind::Link,         EventKind::ToolStart,
    EventKind::ToolEnd,  EventKind::Recording,   EventKind::Historian,    EventKind::Note,
    EventKind::Operator, EventKind::Scaling,
};

const std::array<const char *, JournalModel::ColumnCount> kHeaders = {"日期时间", "类型", "对象",
                                                                      "内容", "持续时间"};

} // namespace

// ---- The model ----

JournalModel::JournalModel(QObject *parent) : QAbstractTableModel(parent) {}

void JournalModel::show(const RowBuilder *rows, const std::vector<qint64> &serials)
{
    beginResetModel();
    m_rows = rows;
    m_top.clear();
    m_rest.assign(serials.rbegin(), serials.rend());
    endResetModel();
}

void JournalModel::addNewest(qint64 serial)
{
    beginInsertRows({}, 0, 0);
    m_top.push_back(serial);
    endInsertRows();
}

void JournalModel::addOlder(const std::vector<qint64> &serials)
{
    if (!serials.empty()) {
        const int first = rowCount();
        beginInsertRows({}, first, first + int(serials.size()) - 1);
        m_rest.insert(m_rest.end(), serials.rbegin(), serials.rend());
        endInsertRows();
    }
    if (rowCount() > 0)
        emit dataChanged(index(0, Duration), index(rowCount() - 1, Duration));
}

std::vector<qint64> JournalModel::shownSerials() const
{
    std::vector<qint64> serials(m_top.rbegin(), m_top.rend());
    serials.insert(serials.end(), m_rest.begin(), m_rest.end());
    return serials;
}

qint64 JournalModel::serialAt(int row) const
{
    const int top = int(m_top.size());
    return row < top ? m_top[top - 1 - row] : m_rest[row - top];
}

int JournalModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_top.size() + m_rest.size());
}

int JournalModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant JournalModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !m_rows || index.row() < 0 || index.row() >= rowCount())
        return {};
    const JournalRow &row = m_rows->row(serialAt(index.row()));
    switch (index.column()) {
    case When:
        return momentText(row.event.when);
    case Kind:
        return kindText(row.event.kind);
    case Source:
        return row.event.source;
    case Detail:
        return row.event.detail;
    case Duration:
        return row.durationSeconds ? durationText(*row.durationSeconds, row.durationAtLeast)
                                   : QString();
    default:
        return {};
    }
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(kHeaders[section]);
}

// ---- The window ----

JournalWindow::JournalWindow(EventJournal *journal, QWidget *parent)
    : QWidget(parent), m_journal(journal), m_loadTimer(new QTimer(this)),
      m_watchTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("JournalWindow"));
    setWindowTitle(QStringLiteral("事件记录"));
    resize(900, 600);
    buildControls();
    connect(m_journal, &EventJournal::recorded, this, &JournalWindow::onRecorded);
    m_loadTimer->setInterval(kReadInterval);
    connect(m_loadTimer, &QTimer::timeout, this, [this] { loadOlder(kReadPerTurn); });
    m_watchTimer->setInterval(kWatchInterval);
    connect(m_watchTimer, &QTimer::timeout, this, &JournalWindow::readNewStored);
    reload();
}

void JournalWindow::buildControls()
{
    m_kind = new QComboBox(this);
    m_kind->setObjectName(QStringLiteral("KindFilter"));
    m_kind->addItem(QStringLiteral("全部"));
    for (EventKind kind : kFilterKinds)
        m_kind->addItem(kindText(kind), int(kind));

    m_rangeOn = new QCheckBox(QStringLiteral("时间范围"), this);
    m_rangeOn->setObjectName(QStringLiteral("RangeFilter"));
    const QDateTime now = SystemClock::now();
    m_from = new QDateTimeEdit(now.addDays(-1), this);
    m_from->setObjectName(QStringLiteral("RangeFrom"));
    m_to = new QDateTimeEdit(now, this);
    m_to->setObjectName(QStringLiteral("RangeTo"));
    for (QDateTimeEdit *edit : {m_from, m_to}) {
        edit->setDisplayFormat(QLatin1String(kMomentFormat));
        edit->setCalendarPopup(true);
    }

    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("SearchText"));
    m_search->setPlaceholderText(QStringLiteral("搜索"));
    m_search->setClearButtonEnabled(true);

    m_export = new QPushButton(QStringLiteral("导出CSV"), this);
    m_export->setObjectName(QStringLiteral("ExportCsv"));

    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("EventTable"));
    m_table->setModel(&m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setStretchLastSection(false);
    m_table->horizontalHeader()->setSectionResizeMode(JournalModel::Detail, QHeaderView::Stretch);
    m_table->setColumnWidth(JournalModel::When, 150);
    m_table->setColumnWidth(JournalModel::Source, 160);

    m_counts = new QLabel(this);
    m_counts->setObjectName(QStringLiteral("AlarmCounts"));

    auto *filters = new QHBoxLayout;
    filters->addWidget(new QLabel(QStringLiteral("类型"), this));
    filters->addWidget(m_kind);
    filters->addWidget(m_rangeOn);
    filters->addWidget(m_from);
    filters->addWidget(new QLabel(QStringLiteral("至"), this));
    filters->addWidget(m_to);
    filters->addWidget(m_search, 1);
    filters->addWidget(m_export);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_counts);

    connect(m_kind, &QComboBox::currentIndexChanged, this, &JournalWindow::applyFilter);
    connect(m_rangeOn, &QCheckBox::toggled, this, &JournalWindow::applyFilter);
    connect(m_from, &QDateTimeEdit::dateTimeChanged, this, &JournalWindow::applyFilter);
    connect(m_to, &QDateTimeEdit::dateTimeChanged, this, &JournalWindow::applyFilter);
    connect(m_search, &QLineEdit::textChanged, this, &JournalWindow::applyFilter);
    connect(m_export, &QPushButton::clicked, this, &JournalWindow::chooseExportFile);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::hide);
}

void JournalWindow::reload()
{
    m_loadTimer->stop();
    m_builder = RowBuilder();
    // Events still waiting for the database are newer than every stored one.
    m_waiting.assign(m_journal->log().pending().begin(), m_journal->log().pending().end());
    for (const Event &e : m_waiting)
        m_builder.add(e);
    m_loadNewest = m_journal->log().newestId();
    m_shownNewest = m_loadNewest;
    m_loaded = 0;
    m_writtenSince = 0;
    applyFilter();
    loadOlder(kFirstRead);
}

bool JournalWindow::isLoading() const
{
    return m_loadTimer->isActive();
}

void JournalWindow::loadOlder(int count)
{
    // Each event written since the reading began took the ring's oldest id.
    const int left = EventLog::kEventRingIds - m_loaded - m_writtenSince;
    const std::vector<Event> older =
        m_loadNewest && left > 0
            ? m_journal->log().ringEvents(*m_loadNewest, m_loaded, qMin(count, left))
            : std::vector<Event>();
    const qint64 end = m_builder.firstSerial();
    for (const Event &e : older)
        m_builder.addOlder(e);
    m_loaded += int(older.size());
    m_model.addOlder(filterRows(m_builder, m_builder.firstSerial(), end, filter()));
    if (older.size() < std::size_t(qMin(count, left)) || left <= count) {
        m_loadTimer->stop();
        showCounts();
    } else {
        m_loadTimer->start();
    }
}

JournalFilter JournalWindow::filter() const
{
    JournalFilter f;
    if (m_kind->currentIndex() > 0)
        f.kind = EventKind(m_kind->currentData().toInt());
    if (m_rangeOn->isChecked()) {
        f.from = m_from->dateTime();
        f.to = m_to->dateTime();
    }
    f.text = m_search->text().trimmed();
    return f;
}

void JournalWindow::applyFilter()
{
    m_model.show(&m_builder,
                 filterRows(m_builder, m_builder.firstSerial(), m_builder.endSerial(), filter()));
    showCounts();
}

void JournalWindow::onRecorded(const Event &event)
{
    // Read when the view is shown again, not now: each event would otherwise
    // cost two reads and a row kept for good, however long no one looks.
    if (!isVisible()) {
        m_missedWhileHidden = true;
        return;
    }
    // Written, it is the newest stored event, read with those others wrote before it.
    if (readNewStored())
        return;
    const std::deque<Event> &pending = m_journal->log().pending();
    if (!pending.empty() && pending.back() == event) {
        addEvent(event);
        m_waiting.push_back(event);
    }
}

// Adds the events written since the newest one shown, oldest first; true when
// it read everything again instead (the database came back, or more were
// written than a first read takes).
bool JournalWindow::readNewStored()
{
    const std::optional<qint32> newest = m_journal->log().newestId();
    if (!newest)
        return false;
    const qint32 count = m_shownNewest ? eventIdsAfter(*m_shownNewest, *newest) : *newest;
    if (!m_shownNewest || count > kFirstRead) {
        reload();
        return true;
    }
    if (count == 0)
        return false;
    const std::vector<Event> fresh = m_journal->log().ringEvents(*newest, 0, count);
    if (int(fresh.size()) < count)
        return false; // read again on the next look
    m_shownNewest = newest;
    if (isLoading())
        m_writtenSince += count;
    for (auto it = fresh.rbegin(); it != fresh.rend(); ++it) {
        // One shown while it waited is not shown twice; those queued before
        // it that never reach the table were dropped from the full queue.
        const auto waited = std::find(m_waiting.begin(), m_waiting.end(), *it);
        if (waited != m_waiting.end())
            m_waiting.erase(m_waiting.begin(), waited + 1);
        else
            addEvent(*it);
    }
    return false;
}

void JournalWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Events recorded while hidden: those stored are read as the watch reads
    // them. Read afresh instead when some still wait for the database (they are
    // shown from the log's queue), or when a reading was under way: it counted
    // none of the ids they took from the ring's oldest end.
    const bool readAfresh =
        m_missedWhileHidden && (isLoading() || !m_journal->log().pending().empty());
    m_missedWhileHidden = false;
    if (readAfresh)
        reload();
    else
        readNewStored();
    m_watchTimer->start();
}

void JournalWindow::hideEvent(QHideEvent *event)
{
    m_watchTimer->stop();
    QWidget::hideEvent(event);
}

void JournalWindow::addEvent(const Event &event)
{
    m_builder.add(event);
    if (rowMatches(m_builder.rows().back(), filter()))
        m_model.addNewest(m_builder.endSerial() - 1);
    if (event.kind == EventKind::Alarm)
        showCounts();
}

void JournalWindow::showCounts()
{
    const std::array<int, 4> counts = alarmEpisodesLastDay(m_builder, SystemClock::now());
    m_counts->setText(QStringLiteral("24小时内报警次数  CH1: %1   CH2: %2   CH3: %3   CH4: %4")
                          .arg(counts[0])
                          .arg(counts[1])
                          .arg(counts[2])
                          .arg(counts[3]));
}

bool JournalWindow::exportCsv(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray csv = journalCsv(m_builder, m_model.shownSerials());
    if (file.write(csv) != csv.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void JournalWindow::chooseExportFile()
{
    const QString path =
        askSaveFileName(this, QStringLiteral("导出CSV"), QStringLiteral("事件记录.csv"),
                        QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty())
        exportCsv(path);
}

JournalWindow *journalWindow()
{
    static QPointer<JournalWindow> instance;
    if (!instance)
        instance = new JournalWindow(eventJournal());
    return instance;
}
