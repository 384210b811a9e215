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
    QDateTime t = source() ? source()() : QDateTime::currentDateTime();
    const QTime tod = t.time();
    t.setTime(QTime(tod.hour(), tod.minute(), tod.second()));
    return t;
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
