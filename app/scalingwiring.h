#pragma once

// The wiring of the instrument's scaling in the windowed tool: read at each
// opening of the port and after each write of a scaling register (the
// overview connects the configuration window), in the gap after a poll of
// Met1; each change recorded by mscom with its time, each failed read told in
// the details view and the journal.

class QString;

// Connects the tool's scaling watch to the link, the poller, the recorder and
// the health monitor, and gives it the operator's unit names stored in the
// recording database at `databasePath`.
void attachScaling(const QString &databasePath);
