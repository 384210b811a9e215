#include "configevents.h"

#include "parametermap.h"

namespace Journal
{

QString parameterValueText(int reg, qint32 value)
{
    const ParameterRow *row = ParameterMap::parameterOf(reg);
    if (!row)
        return QString::number(value);
    if (row->kind == ValueKind::Coded) {
        for (const OptionRow &option : ParameterMap::options(row->list))
            if (option.code == value)
                return QString::fromUtf8(option.entryText).trimmed();
        return QString::number(value);
    }
    return ParameterMap::shownText(*row, value).value_or(QString::number(value));
}

QString outcomeText(WriteOutcome outcome)
{
    switch (outcome) {
    case WriteOutcome::Written:
        return QStringLiteral("已写入");
    case WriteOutcome::WrittenOnRetry:
        return QStringLiteral("重试后写入");
    case WriteOutcome::FailedAfterRetry:
        break;
    }
    return QStringLiteral("重试后失败");
}

Event configWriteEvent(int reg, std::optional<qint32> shownBefore, qint32 written,
                       WriteOutcome outcome, const QDateTime &when)
{
    const ParameterRow *row = ParameterMap::parameterOf(reg);
    QString source = QStringLiteral("寄存器%1").arg(reg);
    if (row)
        source += u' ' + QString::fromUtf8(row->name).trimmed();
    const QString before =
        shownBefore ? parameterValueText(reg, *shownBefore) : QStringLiteral("未读回");
    return Event{when, EventKind::ConfigWrite, source,
                 QStringLiteral("%1 → %2 %3")
                     .arg(before, parameterValueText(reg, written), outcomeText(outcome))};
}

} // namespace Journal
