#include "clock.h"

#include <QFileInfo>

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
    if (source()) {
        const QDateTime t = source()();
        // Moved back along the time line rather than given a new time of day: in
        // the hour repeated when clocks go back, a new time of day would be
        // resolved afresh and could land in the other pass of the hour.
        return t.addMSecs(-t.time().msec());
    }
    // The whole second as an instant, then its local time: one conversion, and
    // none from a time of day back to an instant, for the same reason.
    return QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch());
}

void readZoneFileOnce()
{
#ifdef Q_OS_LINUX
    // With TZ unset, the C library looks at /etc/localtime again on every
    // conversion to local time, which the tool makes tens of times a second.
    // Named, the file is read once. Daylight saving is in the file's rules; a
    // zone chosen anew for the machine applies from the tool's next start.
    if (!qEnvironmentVariableIsSet("TZ") && QFileInfo::exists(QStringLiteral("/etc/localtime")))
        qputenv("TZ", ":/etc/localtime");
#endif
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
