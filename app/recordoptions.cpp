#include "recordoptions.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QSet>

#include "webview.h"

#include <iterator>

namespace
{

constexpr int kLargestPort = 20;
constexpr int kLargestAddress = 247;
const QStringList kBaudRates{QStringLiteral("4800"), QStringLiteral("9600"),
                             QStringLiteral("19200")};
const QStringList kParities{QStringLiteral("none"), QStringLiteral("odd"), QStringLiteral("even")};
// A poll is three exchanges of about 96 characters in all: at 9600 bit/s 4
// instruments and at 19200 bit/s 9 were measured to keep the 500 ms tick (the
// time-outs and the instrument's reply delay do not halve with the speed);
// at 4800 bit/s every exchange takes twice as long as at 9600.
constexpr int kInstrumentsPerLine[] = {2, 4, 9};

RecordOptions refused(const QString &reason)
{
    RecordOptions options;
    options.error = reason;
    return options;
}

} // namespace

int instrumentsPerLine(int baudCode)
{
    return baudCode >= 0 && baudCode < int(std::size(kInstrumentsPerLine))
               ? kInstrumentsPerLine[baudCode]
               : kInstrumentsPerLine[0];
}

QString lineCapacityWarning(const RecordOptions &options)
{
    const int carried = instrumentsPerLine(options.baudCode);
    if (options.addresses.size() <= carried)
        return {};
    return QStringLiteral("warning: %1 instruments on one line at %2 bit/s; it polls about %3 "
                          "within the 500 ms tick, so each is polled less often")
        .arg(options.addresses.size())
        .arg(kBaudRates.value(options.baudCode))
        .arg(carried);
}

QString databasePathProblem(const QString &path)
{
    if (path.trimmed().isEmpty())
        return QStringLiteral("no database file named");
    if (path.startsWith(QLatin1Char(':')))
        return QStringLiteral("\"%1\" is no file on disk (a name beginning with \":\" is "
                              "kept in memory or in the program): name a database file")
            .arg(path);
    if (path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        return QStringLiteral("\"%1\" is a URI, not a file path: name a database file").arg(path);
    if (path.endsWith(QLatin1Char('/')) || QFileInfo(path).isDir())
        return QStringLiteral("\"%1\" is a folder: name a database file in it").arg(path);
    return {};
}

bool wantsRecordMode(const QStringList &arguments)
{
    return arguments.contains(QStringLiteral("--record"));
}

QList<QCommandLineOption> linkChoiceOptions()
{
    return {
        QCommandLineOption(QStringLiteral("port"), QStringLiteral("Serial port number."),
                           QStringLiteral("N"), QStringLiteral("1")),
        QCommandLineOption(QStringLiteral("address"),
                           QStringLiteral("Module address(es), e.g. 1 or 1,2,5."),
                           QStringLiteral("A"), QStringLiteral("1")),
        QCommandLineOption(QStringLiteral("baud"), QStringLiteral("4800, 9600 or 19200."),
                           QStringLiteral("RATE"), QStringLiteral("9600")),
        QCommandLineOption(QStringLiteral("parity"), QStringLiteral("none, odd or even."),
                           QStringLiteral("P"), QStringLiteral("none")),
    };
}

RecordOptions readLinkChoices(const QCommandLineParser &parser)
{
    const QString port = parser.value(QStringLiteral("port"));
    const QString address = parser.value(QStringLiteral("address"));
    const QString baud = parser.value(QStringLiteral("baud"));
    const QString parity = parser.value(QStringLiteral("parity"));
    RecordOptions options;
    bool ok = false;
    options.port = port.toInt(&ok);
    if (!ok || options.port < 1 || options.port > kLargestPort)
        return refused(
            QStringLiteral("--port must be a number from 1 to 20, not \"%1\"").arg(port));
    options.addresses.clear();
    QSet<int> seen;
    for (const QString &part : address.split(QLatin1Char(','))) {
        const int value = part.trimmed().toInt(&ok);
        if (!ok || value < 1 || value > kLargestAddress || seen.contains(value))
            return refused(QStringLiteral("--address must list different numbers from 1 to 247, "
                                          "not \"%1\"")
                               .arg(address));
        seen.insert(value);
        options.addresses << value;
    }
    options.baudCode = kBaudRates.indexOf(baud);
    if (options.baudCode < 0)
        return refused(QStringLiteral("--baud must be 4800, 9600 or 19200, not \"%1\"").arg(baud));
    options.parityCode = kParities.indexOf(parity.toLower());
    if (options.parityCode < 0)
        return refused(
            QStringLiteral("--parity must be none, odd or even, not \"%1\"").arg(parity));
    return options;
}

std::optional<std::pair<int, QString>> parseUnitOption(const QString &value, QString &error)
{
    const qsizetype equals = value.indexOf(QLatin1Char('='));
    bool ok = false;
    const int channel = equals > 0 ? value.left(equals).trimmed().toInt(&ok) : 0;
    if (!ok || channel < 1 || channel > kScaledChannels) {
        error = QStringLiteral("--unit must be CH=TEXT with CH from 1 to 4, not \"%1\"").arg(value);
        return std::nullopt;
    }
    const UnitTextCheck check = checkUnitText(value.mid(equals + 1));
    if (!check.accepted) {
        error = QStringLiteral("--unit %1: %2").arg(channel).arg(check.message);
        return std::nullopt;
    }
    return std::make_pair(channel - 1, check.unit);
}

RecordOptions parseRecordOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("Poll and record without a window."));
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("Recording database file."),
                                QStringLiteral("PATH"));
    parser.setApplicationDescription(
        QStringLiteral("zelmar --record: polls the instruments on one serial line and records "
                       "each into its own database, without a window; forwards to the "
                       "historian when ZELMAR_HISTORIAN is set."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption unit(
        QStringLiteral("unit"),
        QStringLiteral("The unit of linear channel CH (1..4), e.g. 2=MPa; repeatable; "
                       "2= clears it. Kept in the recording database."),
        QStringLiteral("CH=TEXT"));
    parser.addOptions(QList<QCommandLineOption>{record, db, webOption(), unit} +
                      linkChoiceOptions());
    if (!parser.parse(arguments))
        return refused(parser.errorText());
    if (parser.isSet(help)) {
        RecordOptions options;
        options.help = parser.helpText();
        return options;
    }
    if (!parser.positionalArguments().isEmpty())
        return refused(QStringLiteral("unexpected argument: ") +
                       parser.positionalArguments().first());
    RecordOptions options = readLinkChoices(parser);
    if (!options.isValid())
        return options;
    if (options.addresses.size() > kMostInstrumentsPerLine)
        return refused(QStringLiteral("--address lists %1 instruments; one line carries at most "
                                      "%2 (about 4 within the 500 ms tick at 9600 bit/s)")
                           .arg(options.addresses.size())
                           .arg(kMostInstrumentsPerLine));
    for (const QString &value : parser.values(unit)) {
        QString error;
        const std::optional<std::pair<int, QString>> named = parseUnitOption(value, error);
        if (!named)
            return refused(error);
        options.units[named->first] = named->second;
    }
    options.databasePath = parser.value(db);
    if (parser.isSet(db)) {
        const QString problem = databasePathProblem(options.databasePath);
        if (!problem.isEmpty())
            return refused(QStringLiteral("--db: ") + problem);
    }
    return options;
}

QString addressDatabasePath(const QString &path, int address)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    const QString tag = QStringLiteral("-a%1").arg(address);
    if (suffix.isEmpty())
        return path + tag;
    return path.left(path.size() - suffix.size() - 1) + tag + QLatin1Char('.') + suffix;
}
