#pragma once

#include "events.h"
#include "writeoutcome.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace Journal
{

// The text of a register value as the journal shows it: a coded value as its
// code and option text ("2:19200BPS"), a tenths value as "2.5", others as the
// number. A code that is not in the list is shown as the bare number.
QString parameterValueText(int reg, qint32 value);

// The text of an outcome: "已写入", "重试后写入", "重试后失败".
QString outcomeText(WriteOutcome outcome);

// The event of one write of register `reg`: the source names the register and
// its parameter ("寄存器18 波特率"), the detail the value shown before (the last
// read-back; "未读回" when none), the value written and the outcome.
Event configWriteEvent(int reg, std::optional<qint32> shownBefore, qint32 written,
                       WriteOutcome outcome, const QDateTime &when);

} // namespace Journal
