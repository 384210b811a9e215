#pragma once

#include "scaling.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <utility>

class QCommandLineParser;

// The windowless recorder's command line:
//   zelmar --record --port N --address A[,B,...] --baud 9600 --parity none [--db PATH]
struct RecordOptions {
    int port = 1;
    QList<int> addresses{1};
    int baudCode = 1;     // 0/1/2: 4800/9600/19200 bit/s
    int parityCode = 0;   // 0/1/2: none/odd/even
    QString databasePath; // empty: the usual recording database
    // --unit CH=TEXT: the operator's names of linear channels' units; nullopt where not given.
    std::array<std::optional<QString>, kScaledChannels> units{};
    QString error; // why the command line cannot be used; empty when it can
    QString help;  // the recorder's options when --help was asked for; empty otherwise

    bool isValid() const { return error.isEmpty(); }
};

// Beyond this many instruments on one line the recorder does not start: each
// has its own database and forwarder, and the tick could not poll them all.
constexpr int kMostInstrumentsPerLine = 16;

// How many instruments one line polls within the 500 ms tick at baud code
// 0/1/2 (4800/9600/19200 bit/s): 2, 4 and 9.
int instrumentsPerLine(int baudCode);
// The warning for a line asked to carry more instruments than that; empty when it carries them.
QString lineCapacityWarning(const RecordOptions &options);
// Why `path` cannot be a recording database file, in one line: empty, a name
// of no file on disk (":memory:" or anything beginning with ":", a "file:"
// URI), or a folder. Empty when it can.
QString databasePathProblem(const QString &path);

// Whether the arguments (argv, program name first) ask for the windowless recorder.
bool wantsRecordMode(const QStringList &arguments);

// The link's choices on a command line: --port, --address, --baud, --parity,
// with the defaults 1, 1, 9600, none.
QList<QCommandLineOption> linkChoiceOptions();
// The link's choices of a command line parsed with linkChoiceOptions() among
// its options, checked as the recorder checks them.
RecordOptions readLinkChoices(const QCommandLineParser &parser);

// One --unit value, "CH=TEXT" with CH 1..4 and TEXT as checkUnitText() takes
// it (empty clears the name): the channel (0..3) and the unit, or `error`.
std::optional<std::pair<int, QString>> parseUnitOption(const QString &value, QString &error);

// Reads the recorder's options (program name first). Unknown options, a port
// outside 1..20, an address outside 1..247 or given twice, more than
// kMostInstrumentsPerLine addresses, a baud rate or parity the instrument does
// not know, or a --db that names no file (databasePathProblem) give an options
// value whose error says so in one line.
RecordOptions parseRecordOptions(const QStringList &arguments);

// The database of one of several instruments: `path` with "-a<address>"
// before its suffix ("/d/Rdatabj.db" -> "/d/Rdatabj-a5.db").
QString addressDatabasePath(const QString &path, int address);
