#include "commandline.h"

#include "csvexport.h"
#include "historianreader.h"
#include "historianurl.h"
#include "historyrange.h"
#include "ringquery.h"
#include "stationsource.h"
#include "store.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QStringList>
#include <QTextStream>

#include <cstring>
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

constexpr const char *kExportFlag = "--export-csv";

// "2026-12-07 08:00", with seconds, or with a T between date and time.
std::optional<QDateTime> parseMoment(const QString &text)
{
    const QString trimmed = text.trimmed();
    for (const char *format : {"yyyy-MM-dd HH:mm", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm",
                               "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd"}) {
        const QDateTime moment = QDateTime::fromString(trimmed, QLatin1String(format));
        if (moment.isValid())
            return moment;
    }
    return std::nullopt;
}

int fail(int code, const QString &reason)
{
    QTextStream(stderr) << "zelmar: " << reason << '\n';
    return code;
}

int exportDone(const History::RangeExport &done);

int exportCsv(const QCommandLineParser &parser, const QCommandLineOption &file,
              const QCommandLineOption &from, const QCommandLineOption &to,
              const QCommandLineOption &ring, const QCommandLineOption &db)
{
    if (!parser.isSet(from) || !parser.isSet(to))
        return fail(kUsage, QStringLiteral("--export-csv needs --from and --to"));
    const auto first = parseMoment(parser.value(from));
    const auto last = parseMoment(parser.value(to));
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
        return exportDone(History::exportStation(source, History::serialOf(*first),
                                                 History::serialOf(*last), table,
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
    const History::RangeExport done = History::exportRange(
        reader, History::serialOf(*first), History::serialOf(*last), table, parser.value(file));
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
}

bool isCommandLineAction(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], kExportFlag, std::strlen(kExportFlag)) == 0 ||
            std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return true;
    }
    return false;
}

int runCommandLine(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    nameTool();
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("ZELMAR monitor"));
    parser.addHelpOption();
    const QCommandLineOption file(QStringLiteral("export-csv"),
                                  QStringLiteral("Write the recorded rows of a range to FILE "
                                                 "(CSV, UTF-8) and end, without a window."),
                                  QStringLiteral("FILE"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("Start of the range, \"2026-12-07 08:00\"."),
                                  QStringLiteral("DATETIME"));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("End of the range, \"2026-12-07 20:00\"."),
                                QStringLiteral("DATETIME"));
    const QCommandLineOption ring(QStringLiteral("ring"),
                                  QStringLiteral("1s (pv_data) or 10s (Lpv_wdjl); by default the "
                                                 "1-second ring where it reaches back to --from."),
                                  QStringLiteral("RING"));
    const QCommandLineOption db(QStringLiteral("db"),
                                QStringLiteral("The recording database (default: $ZELMAR_DB, or "
                                               "Rdatabj.db in the user's data folder), or a "
                                               "station of the historian: "
                                               "postgresql://…?station=NAME."),
                                QStringLiteral("PATH"));
    parser.addOptions({file, from, to, ring, db});
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(kUsage, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        QTextStream(stdout) << parser.helpText();
        return kDone;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(kUsage, QStringLiteral("unexpected argument: ") +
                                parser.positionalArguments().constFirst());
    return exportCsv(parser, file, from, to, ring, db);
}
