#include "journalrows.h"

#include "csv.h"
#include "daytime.h"
#include "eventmarks.h"
#include "inputchanges.h"

#include <QStringList>

namespace Journal
{

namespace
{

const QString kStartingMark = QStringLiteral("起始");

bool isOpening(const Event &event)
{
    return event.kind == EventKind::Link && event.detail.startsWith(QStringLiteral("打开"));
}
} // namespace

void RowBuilder::add(const Event &event)
{
    JournalRow row{event, std::nullopt, false};
    // A new opening of the link starts every state afresh.
    if (isOpening(event)) {
        m_openEpisodes.clear();
        m_allSettled = true;
    }
    if (isOnEvent(event) || isOffEvent(event))
        m_settled.insert(event.source);
    if (isOnEvent(event)) {
        m_openEpisodes.insert(event.source, {event.when, event.detail.endsWith(kStartingMark)});
    } else if (isOffEvent(event)) {
        const auto open = m_openEpisodes.constFind(event.source);
        if (open != m_openEpisodes.constEnd()) {
            row.durationSeconds = open->first.secsTo(event.when);
            row.durationAtLeast = open->second;
            m_openEpisodes.erase(open);
        }
    }
    m_rows.push_back(row);
}

void RowBuilder::addOlder(const Event &event)
{
    --m_firstSerial;
    m_rows.push_front(JournalRow{event, std::nullopt, false});
    if (isOpening(event)) {
        // No episode runs across an opening: what is older pairs with nothing newer.
        m_unmatchedOffs.clear();
        m_allSettled = true;
        return;
    }
    const bool on = isOnEvent(event);
    if (!on && !isOffEvent(event))
        return;
    if (on) {
        const auto off = m_unmatchedOffs.find(event.source);
        if (off != m_unmatchedOffs.end()) {
            JournalRow &offRow = m_rows[std::size_t(*off - m_firstSerial)];
            offRow.durationSeconds = event.when.secsTo(offRow.event.when);
            offRow.durationAtLeast = event.detail.endsWith(kStartingMark);
            m_unmatchedOffs.erase(off);
        }
    } else {
        m_unmatchedOffs.insert(event.source, m_firstSerial);
    }
    // The newest event of a state met going down tells whether its episode is
    // still open at the newest end, for the "OFF" that will be added next.
    if (!m_allSettled && !m_settled.contains(event.source)) {
        m_settled.insert(event.source);
        if (on)
            m_openEpisodes.insert(event.source, {event.when, event.detail.endsWith(kStartingMark)});
    }
}

bool rowMatches(const JournalRow &row, const JournalFilter &filter)
{
    const Event &e = row.event;
    if (filter.kind && e.kind != *filter.kind)
        return false;
    if (filter.from && e.when < *filter.from)
        return false;
    if (filter.to && e.when > *filter.to)
        return false;
    if (filter.text.isEmpty())
        return true;
    return e.source.contains(filter.text, Qt::CaseInsensitive) ||
           e.detail.contains(filter.text, Qt::CaseInsensitive) ||
           kindText(e.kind).contains(filter.text, Qt::CaseInsensitive);
}

std::vector<qint64> filterRows(const RowBuilder &rows, qint64 from, qint64 to,
                               const JournalFilter &filter)
{
    std::vector<qint64> serials;
    from = qMax(from, rows.firstSerial());
    to = qMin(to, rows.endSerial());
    for (qint64 serial = from; serial < to; ++serial)
        if (rowMatches(rows.row(serial), filter))
            serials.push_back(serial);
    return serials;
}

QString kindText(EventKind kind)
{
    switch (kind) {
    case EventKind::Link:
        return QStringLiteral("通讯");
    case EventKind::Recording:
        return QStringLiteral("记录");
    case EventKind::Alarm:
        return QStringLiteral("报警");
    case EventKind::OpenCircuit:
        return QStringLiteral("开路");
    case EventKind::ShortCircuit:
        return QStringLiteral("短路");
    case EventKind::AlarmOutput:
        return QStringLiteral("报警输出");
    case EventKind::Relay:
        return QStringLiteral("继电器");
    case EventKind::ConfigWrite:
        return QStringLiteral("配置");
    case EventKind::ToolStart:
        return QStringLiteral("启动");
    case EventKind::ToolEnd:
        return QStringLiteral("退出");
    case EventKind::Historian:
        return QStringLiteral("历史库");
    case EventKind::Operator:
        return QStringLiteral("操作员");
    case EventKind::Scaling:
        return QStringLiteral("标度");
    case EventKind::Note:
        break;
    }
    return QStringLiteral("说明");
}

QString durationText(qint64 seconds, bool atLeast)
{
    const bool negative = seconds < 0; // the clock was set back during the episode
    const qint64 s = negative ? -seconds : seconds;
    const QString text = QStringLiteral("%1%2:%3:%4")
                             .arg(negative ? QStringLiteral("-") : QString())
                             .arg(s / 3600)
                             .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                             .arg(s % 60, 2, 10, QLatin1Char('0'));
    return atLeast ? QStringLiteral("≥") + text : text;
}

std::array<int, 4> alarmEpisodesLastDay(const RowBuilder &rows, const QDateTime &now)
{
    std::array<int, 4> counts{};
    const QDateTime from = now.addSecs(-kWholeSecondsPerDay);
    // Rows are oldest first: walk back from the newest until a day has passed.
    for (auto it = rows.rows().rbegin(); it != rows.rows().rend(); ++it) {
        const Event &e = it->event;
        if (e.when < from)
            break;
        if (e.kind != EventKind::Alarm || e.when > now || !isOnEvent(e))
            continue;
        const int index = stateIndexOf(e.source);
        if (index >= 0)
            ++counts[stateChannel(index) - 1];
    }
    return counts;
}

QByteArray journalCsv(const RowBuilder &rows, const std::vector<qint64> &serials)
{
    QString text =
        csvRecord({QStringLiteral("日期时间"), QStringLiteral("类型"), QStringLiteral("对象"),
                   QStringLiteral("内容"), QStringLiteral("持续时间")});
    for (qint64 serial : serials) {
        const JournalRow &row = rows.row(serial);
        const QStringList fields{momentText(row.event.when), kindText(row.event.kind),
                                 row.event.source, row.event.detail,
                                 row.durationSeconds
                                     ? durationText(*row.durationSeconds, row.durationAtLeast)
                                     : QString()};
        text += csvRecord(fields);
    }
    return QByteArray(kCsvByteOrderMark) + text.toUtf8();
}

} // namespace Journal
