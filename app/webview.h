#pragma once

#include "linkhealth.h"
#include "livesnapshot.h"
#include "tablefreshness.h"
#include "webserver.h"

#include <QCommandLineOption>
#include <QList>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class RecordingWatch;

// The tool's web view: --web ADDRESS:PORT, the environment's token and
// certificate, and a snapshot of the shared tables published after each poll;
// wired here to the windowed tool. The windowless recorder wires it to its own
// polls (recordmode), on top of this: nothing here knows the recorder.

// The option on every command line that serves the web view.
QCommandLineOption webOption();
// The value of --web on a command line (program name first); empty without one.
QString webOptionValue(const QStringList &arguments);

// The settings of --web `value` from `environment` (ZELMAR_WEB_TOKEN,
// ZELMAR_WEB_CERT, ZELMAR_WEB_KEY) for `databases` (address -> recording
// database, in address order of `addresses`); `error` says why it cannot
// start: an unreadable address, or one others can reach without a token.
WebSettings webSettings(const QString &value, const QProcessEnvironment &environment,
                        const QList<int> &addresses, const QMap<int, QString> &databases,
                        QString &error);

// What one instrument's poll left, beside the shared tables.
struct PolledState {
    int address = 1;       // its place in the view
    int moduleAddress = 1; // its Modbus address
    LinkState state = LinkState::NotOpened;
    LinkState cameFrom = LinkState::NotOpened;
    bool valuesRead = false;            // this poll read the values (no exception reply)
    PolledTables tables;                // which of its tables hold what it said
    QString reason;                     // the failure behind a state that is not live, its own
    std::optional<QDateTime> lastReply; // its own last reply; nullopt when it never answered
    const RecordingWatch *recording = nullptr;
    std::optional<int> unacknowledged; // nullopt where nothing acknowledges (the recorder)
};
// The snapshot of the shared tables as they stand after that poll, at `now`.
LiveSnapshot snapshotOfTables(const PolledState &polled, quint64 sequence, const QDateTime &now);

// The windowed tool's web view, started once the overview is shown: publishes
// after each poll of Met1; a port it cannot listen on leaves the tool running
// and says so in the strip and on standard error.
void startWindowedWebView(const QString &value);
