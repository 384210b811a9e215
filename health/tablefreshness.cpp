#include "tablefreshness.h"

#include "poller.h"

void TableFreshness::reset()
{
    *this = TableFreshness{};
}

void TableFreshness::read(bool ok)
{
    if (ok) {
        m_everRead = true;
        m_failedInRow = 0;
    } else if (m_failedInRow < kFailedReadsForStale) {
        ++m_failedInRow;
    }
}

bool staleReading(LinkState state, const TableFreshness &table)
{
    return !linkLive(state) || !table.fresh();
}

void PolledTables::read(const PollDelivery &delivery)
{
    values.read(delivery.registers);
    inputsLow.read(delivery.inputsLow);
    inputsHigh.read(delivery.inputsHigh);
    relays.read(delivery.coils);
}

void PolledTables::reset()
{
    *this = PolledTables{};
}
