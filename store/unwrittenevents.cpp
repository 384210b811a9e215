#include "unwrittenevents.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace
{
constexpr char kSuffix[] = "-unwritten-events";
// The moment of an event as the file keeps it: local time, whole seconds, as the events table.
constexpr char kWhenFormat[] = "yyyy-MM-ddTHH:mm:ss";
} // namespace

QString unwrittenEventsPath(const QString &databasePath)
{
    return databasePath + QLatin1String(kSuffix);
}

QByteArray encodeUnwrittenEvents(const std::vector<Event> &events)
{
    QByteArray text;
    for (const Event &event : events) {
        QJsonObject object{
            {QStringLiteral("when"), event.when.toString(QLatin1String(kWhenFormat))},
            {QStringLiteral("kind"), eventKindName(event.kind)},
            {QStringLiteral("source"), event.source},
            {QStringLiteral("detail"), event.detail},
        };
        if (!event.state.isEmpty())
            object.insert(QStringLiteral("state"), event.state);
        text += QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    }
    return text;
}

std::vector<Event> decodeUnwrittenEvents(const QByteArray &text, int *unreadable)
{
    std::vector<Event> events;
    int skipped = 0;
    for (const QByteArray &line : text.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        const QDateTime when = QDateTime::fromString(
            object.value(QStringLiteral("when")).toString(), QLatin1String(kWhenFormat));
        const std::optional<EventKind> kind =
            eventKindFromName(object.value(QStringLiteral("kind")).toString());
        if (!when.isValid() || !kind) {
            ++skipped;
            continue;
        }
        events.push_back(Event{when, *kind, object.value(QStringLiteral("source")).toString(),
                               object.value(QStringLiteral("detail")).toString(),
                               object.value(QStringLiteral("state")).toString()});
    }
    if (unreadable)
        *unreadable = skipped;
    return events;
}

bool keepUnwrittenEvents(const QString &databasePath, const std::vector<Event> &events,
                         QString *error)
{
    if (events.empty())
        return true;
    QFile file(unwrittenEventsPath(databasePath));
    const bool existed = file.exists();
    const QByteArray text = encodeUnwrittenEvents(events);
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Append) &&
                         (existed || file.setPermissions(QFile::ReadOwner | QFile::WriteOwner)) &&
                         file.write(text) == text.size() && file.flush();
    if (!written && error)
        *error = file.fileName() + QStringLiteral(": ") + file.errorString();
    return written;
}

std::vector<Event> takeUnwrittenEvents(const QString &databasePath)
{
    QFile file(unwrittenEventsPath(databasePath));
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.readAll();
    file.close();
    // Removed before its events are handed on: they are the log's from now on,
    // and a stop that cannot write them keeps them here again.
    if (!file.remove())
        return {};
    return decodeUnwrittenEvents(text);
}
