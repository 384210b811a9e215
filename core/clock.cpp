#include "clock.h"

namespace
{
std::function<QDateTime()> &source()
{
    static std::function<QDateTime()> s;
    return s;
}
} // namespace

namespace SystemClock
{

QDateTime now()
{
    const QDateTime t = source() ? source()() : QDateTime::currentDateTime();
    // Moved back along the time line rather than given a new time of day: in
    // the hour repeated when clocks go back, a new time of day would be
    // resolved afresh and could land in the other pass of the hour.
    return t.addMSecs(-t.time().msec());
}

void setSource(std::function<QDateTime()> s)
{
    source() = std::move(s);
}

void setFixed(const QDateTime &moment)
{
    source() = [moment] { return moment; };
}

} // namespace SystemClock
