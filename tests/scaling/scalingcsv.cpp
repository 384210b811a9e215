#include "scalingcsv.h"

#include "csvexport.h"
#include "daytime.h"
#include "livesnapshot.h"
#include "recordingfixture.h"
#include "ringquery.h"
#include "scalinglog.h"
#include "webdata.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace
{

// CH1 reads -5, CH2 2515 in every row; CH1 gets decimal point 1 at +10 s and 2
// at +20 s, CH2 (a linear 4-20 mA input, unit not named) 3 at +10 s.
constexpr int kRows = 30;
constexpr int kFirstScaling = 10;
constexpr int kChange = 20;

qint64 momentOf(int second)
{
    return RecordingFixture::noon() + second;
}

QDateTime instantOf(int second)
{
    return dateTimeOf(RecordingFixture::serialAt(momentOf(second)));
}

ScalingEntry entry(int second, int channel, qint32 type, qint32 dp, const QString &unit)
{
    return ScalingEntry{instantOf(second), channel, ChannelScaling{type, dp, 0, 0, unit}};
}

// A recording of kRows rows with the scaling entries above (and `more`).
bool makeRecording(RecordingFixture &fixture, const QVector<ScalingEntry> &more = {})
{
    if (!fixture.isReady())
        return false;
    for (int i = 0; i < kRows; ++i)
        if (!fixture.record(RecordTable::PvData, i + 1, momentOf(i),
                            {-5, 2515, 3, 4, 50, 25, 0, 0}))
            return false;
    QVector<ScalingEntry> entries{entry(kFirstScaling, 0, 0, 1, QStringLiteral("°C")),
                                  entry(kFirstScaling, 1, 19, 3, QString()),
                                  entry(kChange, 0, 0, 2, QStringLiteral("°C"))};
    entries += more;
    return prepareScalingTables(fixture.db()) && appendScalingEntries(fixture.db(), entries);
}

// The export's lines (byte-order mark and CR dropped) of seconds from..to.
QStringList exported(RecordingFixture &fixture, int from, int to, History::CsvValues values)
{
    RingReader reader(QStringLiteral("csv-reader"));
    if (reader.open(fixture.path()) != RingReader::OpenResult::Opened)
        return {};
    const QString path = fixture.folder() + QStringLiteral("/out.csv");
    const History::RangeExport done = History::exportRange(
        reader, RecordingFixture::serialAt(momentOf(from)),
        RecordingFixture::serialAt(momentOf(to)), RecordTable::PvData, path, {}, values);
    reader.close();
    if (done.fault != History::RangeFault::None)
        return {};
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QString text = QString::fromUtf8(file.readAll());
    text.remove(QChar(0xFEFF));
    text.remove(QLatin1Char('\r'));
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

void TestScalingCsv::rowKeepsItsScaling_data()
{
    QTest::addColumn<int>("second");
    QTest::addColumn<QString>("ch1");
    QTest::addColumn<QString>("ch2");
    QTest::newRow("before the first scaling: raw") << kFirstScaling - 1 << "-5"
                                                   << "2515";
    QTest::newRow("the second it was read") << kFirstScaling << "-0.5"
                                            << "2.515";
    QTest::newRow("the last second of dp 1") << kChange - 1 << "-0.5"
                                             << "2.515";
    QTest::newRow("the second of the change") << kChange << "-0.05"
                                              << "2.515";
    QTest::newRow("the last row") << kRows - 1 << "-0.05"
                                  << "2.515";
}

void TestScalingCsv::rowKeepsItsScaling()
{
    QFETCH(int, second);
    QFETCH(QString, ch1);
    QFETCH(QString, ch2);
    RecordingFixture fixture(QStringLiteral("csv-rows"));
    QVERIFY(makeRecording(fixture));
    const QStringList lines = exported(fixture, 0, kRows - 1, History::CsvValues::Engineering);
    QCOMPARE(lines.size(), kRows + 1);
    QCOMPARE(lines.first(),
             QStringLiteral("日期时间,通道一 (°C),通道二,通道三,通道四,变送值 DA (%),"
                            "输入寄存器6,输入寄存器7,输入寄存器8,质量"));
    const QStringList fields = lines.at(second + 1).split(QLatin1Char(','));
    QCOMPARE(fields.at(1), ch1);
    QCOMPARE(fields.at(2), ch2);
    // The retransmission value and the input registers stay as recorded.
    QCOMPARE(fields.at(5), QStringLiteral("50"));
}

void TestScalingCsv::rawExport()
{
    RecordingFixture fixture(QStringLiteral("csv-raw"));
    QVERIFY(makeRecording(fixture));
    const QStringList lines = exported(fixture, 0, kRows - 1, History::CsvValues::Raw);
    QCOMPARE(lines.first(), History::csvHeader());
    QCOMPARE(lines.at(kChange + 1).section(QLatin1Char(','), 1, 2), QStringLiteral("-5,2515"));
}

void TestScalingCsv::beforeAnyScalingStaysRaw()
{
    // A range wholly before the first entry: the file as it was before scaling was read.
    RecordingFixture fixture(QStringLiteral("csv-before"));
    QVERIFY(makeRecording(fixture));
    const QStringList lines =
        exported(fixture, 0, kFirstScaling - 1, History::CsvValues::Engineering);
    QCOMPARE(lines.size(), kFirstScaling + 1);
    QCOMPARE(lines.first(), History::csvHeader());
    QCOMPARE(lines.last().section(QLatin1Char(','), 1, 2), QStringLiteral("-5,2515"));
}

void TestScalingCsv::unitChangeInHeader()
{
    RecordingFixture fixture(QStringLiteral("csv-units"));
    QVERIFY(makeRecording(fixture, {entry(25, 0, 20, 1, QStringLiteral("MPa"))}));
    QCOMPARE(exported(fixture, 0, kRows - 1, History::CsvValues::Engineering)
                 .first()
                 .section(QLatin1Char(','), 1, 1),
             QStringLiteral("通道一 (°C | MPa)"));
    // A range after the change names the unit in force then only.
    QCOMPARE(exported(fixture, 26, kRows - 1, History::CsvValues::Engineering)
                 .first()
                 .section(QLatin1Char(','), 1, 1),
             QStringLiteral("通道一 (MPa)"));
}

void TestScalingCsv::historyJsonDecimals()
{
    RecordingFixture fixture(QStringLiteral("csv-json"));
    QVERIFY(makeRecording(fixture));
    RingReader reader(QStringLiteral("json-reader"));
    QCOMPARE(reader.open(fixture.path()), RingReader::OpenResult::Opened);
    QVector<RingRow> rows;
    QVERIFY(reader.readRows(RecordTable::PvData, 1, kRows, rows));
    const QJsonObject body =
        QJsonDocument::fromJson(Web::historyJson(rows, RecordTable::PvData, Web::ChartLook{},
                                                 History::readerScaling(reader)))
            .object();
    const QJsonArray decimals = body.value(QStringLiteral("decimals")).toArray();
    QCOMPARE(decimals.size(), kRows);
    QVERIFY(decimals.at(kFirstScaling - 1).toArray().at(0).isNull());
    QCOMPARE(decimals.at(kFirstScaling).toArray().at(0).toInt(), 1);
    QCOMPARE(decimals.at(kChange).toArray().at(0).toInt(), 2);
    QCOMPARE(body.value(QStringLiteral("units")).toArray().at(0).toString(), QStringLiteral("°C"));
    // The rows keep the raw integers and the quality last, as before.
    QCOMPARE(body.value(QStringLiteral("rows")).toArray().at(kChange).toArray().at(1).toInt(), -5);
    reader.close();
}

void TestScalingCsv::liveJson_data()
{
    QTest::addColumn<float>("raw");
    QTest::addColumn<int>("dp"); // -1: no scaling known
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("value");
    QTest::newRow("2515 dp 1") << 2515.0f << 1 << "251.5" << 251.5;
    QTest::newRow("-5 dp 1") << -5.0f << 1 << "-0.5" << -0.5;
    QTest::newRow("2515 dp 2") << 2515.0f << 2 << "25.15" << 25.15;
    QTest::newRow("no scaling: raw") << 2515.0f << -1 << "2515" << 2515.0;
    QTest::newRow("not an integer: as it is") << 2.5f << 1 << "2.5" << 2.5;
}

void TestScalingCsv::liveJson()
{
    QFETCH(float, raw);
    QFETCH(int, dp);
    QFETCH(QString, text);
    QFETCH(double, value);
    LiveSnapshot snapshot;
    snapshot.values[0] = raw;
    if (dp >= 0)
        snapshot.scaling[0] = ChannelScaling{0, dp, 0, 0, QStringLiteral("°C")};
    const QJsonObject live = QJsonDocument::fromJson(::liveJson(snapshot)).object();
    const QJsonObject ch1 = live.value(QStringLiteral("channels")).toArray().at(0).toObject();
    QCOMPARE(ch1.value(QStringLiteral("text")).toString(), text);
    QCOMPARE(ch1.value(QStringLiteral("value")).toDouble(), value);
    QCOMPARE(ch1.value(QStringLiteral("raw")).toDouble(), double(raw));
    QCOMPARE(ch1.value(QStringLiteral("unit")).isNull(), dp < 0);
    QCOMPARE(live.value(QStringLiteral("ch1")).toDouble(), double(raw));
}
