#include "tablefreshness.h"

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
