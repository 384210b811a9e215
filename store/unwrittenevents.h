#pragma once

#include "events.h"

#include <QByteArray>
#include <QString>

#include <vector>

// Events that a stop could not write into the recording database (another
// program held it locked, say) wait in a file beside it until the next opening
// of its events log takes them, with their own times. One event a line, as
// compact JSON, so that a line cut short by a full disk costs that line only.

// The file beside the recording database at `databasePath`: "<database>-unwritten-events".
QString unwrittenEventsPath(const QString &databasePath);

// The events as the file holds them, one JSON object a line.
QByteArray encodeUnwrittenEvents(const std::vector<Event> &events);
// The events of the file's text, in order; a line that holds no event of a
// kind this build knows is passed over and counted in `unreadable` (when given).
std::vector<Event> decodeUnwrittenEvents(const QByteArray &text, int *unreadable = nullptr);

// Adds `events` after those the file holds, creating it readable by its owner
// only. False, with `error` saying why, when it cannot be written (a folder
// that takes no files, a full disk).
bool keepUnwrittenEvents(const QString &databasePath, const std::vector<Event> &events,
                         QString *error = nullptr);
// The events the file holds, oldest first, and the file removed; empty when
// there is none. A file that cannot be read or removed is left as it is.
std::vector<Event> takeUnwrittenEvents(const QString &databasePath);
