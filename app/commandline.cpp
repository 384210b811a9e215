#include "commandline.h"

#include "csvexport.h"
#include "daytime.h"
#include "historianreader.h"
#include "historianurl.h"
#include "historyrange.h"
#include "openoptions.h"
#include "recordoptions.h"
#include "ringquery.h"
#include "stationsource.h"
#include "store.h"
#include "webview.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QStringList>
#include <QTextStream>

#include <optional>

namespace
{

// Exit codes of a command-line action, one per kind of reason.
enum ExitCode {
    kDone = 0,
    kUsage = 1, // an option missing or unreadable
    kFromAfterTo = 2,
    kNoDatabase = 3,
    kNotRecording = 4, // not a recording database, or locked or unreadable
    kNoRows = 5,       // empty range, or longer than the ring
    kUnwritable = 6,   // the file cannot be written
};

int fail(int code, const QString &reason)
{
    QTextStream(stderr) << "zelmar: " << reason << '\n';
    return code;
}

int exportDone(const History::RangeExport &done);

int exportCsv(const QCommandLineParser &parser, const QCommandLineOption &file,
              const QCommandLineOption &from, const QCommandLineOption &to,
              const QCommandLineOption &ring, const QCommandLineOption &db, bool raw)
{
    if (!parser.isSet(from) || !parser.isSet(to))
        return fail(kUsage, QStringLiteral("--export-csv needs --from and --to"));
    const auto first = parseLocalMoment(parser.value(from));
    const auto last = parseLocalMoment(parser.value(to));
    if (!first || !last) {
        return fail(kUsage, QStringLiteral("unreadable date-time (write \"2026-12-07 08:00\"): ") +
                                (first ? parser.value(to) : parser.value(from)));
    }
    std::optional<RecordTable> table;
    if (parser.isSet(ring)) {
        const QString name = parser.value(ring);
        if (name == QLatin1String("1s"))
            table = RecordTable::PvData;
        else if (name == QLatin1String("10s"))
            table = RecordTable::LpvWdjl;
        else
            return fail(kUsage, QStringLiteral("--ring is 1s or 10s, not ") + name);
    }
    if (*first > *last)
        return fail(kFromAfterTo, QStringLiteral("from after to"));

    const QString source = parser.isSet(db) ? parser.value(db) : databasePath();
    if (isHistorianSource(source)) {
        const HistorianTarget target = parseHistorianUrl(source);
        if (!target.isValid())
            return fail(kUsage, target.error);
        if (target.station.isEmpty())
            return fail(kUsage,
                        QStringLiteral("historian address names no station: add ?station=NAME"));
        return exportDone(History::exportStation(source, serialOf(*first), serialOf(*last), table,
                                                 parser.value(file)));
    }
    RingReader reader(QStringLiteral("command-line"));
    switch (reader.open(source)) {
    case RingReader::OpenResult::Opened:
        break;
    case RingReader::OpenResult::NoFile:
        return fail(kNoDatabase, reader.lastError());
    case RingReader::OpenResult::NotRecording:
    case RingReader::OpenResult::Unreadable:
        return fail(kNotRecording, reader.lastError());
    }
    const History::RangeExport done =
        History::exportRange(reader, serialOf(*first), serialOf(*last), table, parser.value(file),
                             {}, raw ? History::CsvValues::Raw : History::CsvValues::Engineering);
    reader.close();
    return exportDone(done);
}

// The exit code and reason of an export of the local file or the historian.
int exportDone(const History::RangeExport &done)
{
    switch (done.fault) {
    case History::RangeFault::None:
        return kDone;
    case History::RangeFault::FromAfterTo:
        return fail(kFromAfterTo, done.message);
    case History::RangeFault::LongerThanRing:
    case History::RangeFault::EmptyRange:
        return fail(kNoRows, done.message);
    case History::RangeFault::ReadFailed:
        return fail(kNotRecording, done.message);
    case History::RangeFault::WriteFailed:
    case History::RangeFault::Cancelled:
        break;
    }
    return fail(kUnwritable, done.message);
}

} // namespace

void nameTool()
{
    QCoreApplication::setOrganizationName(QStringLiteral("ZELMAR"));
    QCoreApplication::setApplicationName(QStringLiteral("zelmar"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZELMAR_VERSION));
}

namespace
{

// Every option of the tool's command line but the recorder's own (which
// --record reads), so that any other is a usage error.
struct Options {
    QCommandLineOption record{QStringLiteral("record"),
                              QStringLiteral("Poll the instrument and record without a window "
                                             "(zelmar --record --help lists its options).")};
    QCommandLineOption file{QStringLiteral("export-csv"),
                            QStringLiteral("Write the recorded rows of a range to FILE "
                                           "(CSV, UTF-8) and end, without a window."),
                            QStringLiteral("FILE")};
    QCommandLineOption from{QStringLiteral("from"),
                            QStringLiteral("With --export-csv: start of the range, "
                                           "\"2026-12-07 08:00\"."),
                            QStringLiteral("DATETIME")};
    QCommandLineOption to{QStringLiteral("to"),
                          QStringLiteral("With --export-csv: end of the range, "
                                         "\"2026-12-07 20:00\"."),
                          QStringLiteral("DATETIME")};
    QCommandLineOption ring{QStringLiteral("ring"),
                            QStringLiteral("With --export-csv: 1s (pv_data) or 10s (Lpv_wdjl); "
                                           "by default the 1-second ring where it reaches back "
                                           "to --from."),
                            QStringLiteral("RING")};
    QCommandLineOption db{QStringLiteral("db"),
                          QStringLiteral("With --export-csv: the recording database (default: "
                                         "$ZELMAR_DB, or Rdatabj.db in the user's data "
                                         "folder), or a station of the historian: "
                                         "postgresql://…?station=NAME."),
                          QStringLiteral("PATH")};
    QCommandLineOption raw{QStringLiteral("raw"),
                           QStringLiteral("With --export-csv: the channels' integers as recorded, "
                                          "without the instrument's decimal point and units.")};
    QCommandLineOption web = webOption();
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show the modes and options, and end.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Show the version, and end.")};

    // A parser of these options, with the modes in its description.
    void addTo(QCommandLineParser &parser) const
    {
        parser.setApplicationDescription(QStringLiteral(
            "ZELMAR monitor: watches, records and configures one ZELMAR process indicator over "
            "Modbus RTU.\n\n"
            "Modes:\n"
            "  zelmar                  the windows (needs a display)\n"
            "  zelmar --open --port N --address A --baud 4800|9600|19200 --parity none|odd|even "
            "[--mute]\n"
            "                          the windows with \"打开\" pressed at start (unattended "
            "start); --mute: no bell for unacknowledged alarms\n"
            "  zelmar --record …       poll and record without a window; "
            "zelmar --record --help lists its options\n"
            "  zelmar --export-csv FILE --from DATETIME --to DATETIME [--ring 1s|10s] "
            "[--db PATH] [--raw]\n"
            "                          write a range of the recording as CSV, without a window\n"
            "  zelmar --web ADDRESS:PORT, also with --open or --record\n"
            "                          a read-only web view of the live values, trend and "
            "journal in a browser\n"
            "  zelmar --version        the version\n"
            "  zelmar --help           this text"));
        parser.addOptions({help, version, record, file, from, to, ring, db, raw, web});
    }
};

} // namespace

Invocation readInvocation(const QStringList &arguments)
{
    // The recorder reads its own options (and answers its own --help).
    if (wantsRecordMode(arguments))
        return {ToolMode::Record, {}};
    // The unattended start's options belong to the windows alone.
    if (wantsOpenOptions(arguments)) {
        const OpenOptions open = parseOpenOptions(arguments);
        if (!open.isValid())
            return {ToolMode::Usage, open.error};
        return {ToolMode::Windows, {}};
    }
    Options options;
    QCommandLineParser parser;
    options.addTo(parser);
    if (!parser.parse(arguments))
        return {ToolMode::Usage, parser.errorText()};
    if (!parser.positionalArguments().isEmpty())
        return {ToolMode::Usage, QStringLiteral("unexpected argument: ") +
                                     parser.positionalArguments().constFirst()};
    if (parser.isSet(options.help))
        return {ToolMode::Help, {}};
    if (parser.isSet(options.version))
        return {ToolMode::Version, {}};
    if (parser.isSet(options.file))
        return {ToolMode::ExportCsv, {}};
    for (const QCommandLineOption *option :
         {&options.from, &options.to, &options.ring, &options.db, &options.raw})
        if (parser.isSet(*option))
            return {
                ToolMode::Usage,
                QStringLiteral("--%1 belongs to --export-csv").arg(option->names().constFirst())};
    return {ToolMode::Windows, {}};
}

QString noDisplayReason(const QProcessEnvironment &environment)
{
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!environment.value(QLatin1String(name)).isEmpty())
            return {};
    return QStringLiteral("no display to open the windows on (neither DISPLAY nor "
                          "WAYLAND_DISPLAY is set); zelmar --record and zelmar --export-csv "
                          "run without one");
}

int refuseToStart(const QString &reason)
{
    return fail(kUsage, reason);
}

int runCommandLine(int argc, char *argv[], const Invocation &invocation)
{
    QCoreApplication app(argc, argv);
    nameTool();
    Options options;
    QCommandLineParser parser;
    options.addTo(parser);
    switch (invocation.mode) {
    case ToolMode::Help:
        QTextStream(stdout) << parser.helpText();
        return kDone;
    case ToolMode::Version:
        QTextStream(stdout) << QCoreApplication::applicationName() << ' '
                            << QCoreApplication::applicationVersion() << '\n';
        return kDone;
    case ToolMode::ExportCsv:
        if (!parser.parse(QCoreApplication::arguments()))
            return fail(kUsage, parser.errorText());
        return exportCsv(parser, options.file, options.from, options.to, options.ring, options.db,
                         parser.isSet(options.raw));
    case ToolMode::Usage:
    case ToolMode::Windows:
    case ToolMode::Record:
        break;
    }
    return fail(kUsage, invocation.error);
}
