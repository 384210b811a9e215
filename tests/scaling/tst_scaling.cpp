// The channels' scaling: decimal text of raw integers, units by input type,
// the registers' range checks and the operator's unit names.

#include "recordoptions.h"
#include "scaling.h"
#include "scalingcsv.h"
#include "scalinglink.h"
#include "scalingstore.h"

#include <QTest>

class TestScaling : public QObject
{
    Q_OBJECT
private slots:
    void engineeringText_data();
    void engineeringText();
    void engineeringValueMatchesText_data();
    void engineeringValueMatchesText();
    void unitOfType_data();
    void unitOfType();
    void registersRead_data();
    void registersRead();
    void badReadKeepsLastKnown();
    void unitText_data();
    void unitText();
    void unitOption_data();
    void unitOption();
};

void TestScaling::engineeringText_data()
{
    QTest::addColumn<qint64>("raw");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("text");
    QTest::newRow("dp 0") << qint64(2515) << 0 << "2515";
    QTest::newRow("dp 1") << qint64(2515) << 1 << "251.5";
    QTest::newRow("dp 2") << qint64(2515) << 2 << "25.15";
    QTest::newRow("dp 3") << qint64(2515) << 3 << "2.515";
    QTest::newRow("dp 4") << qint64(2515) << 4 << "0.2515";
    QTest::newRow("negative below one") << qint64(-5) << 1 << "-0.5";
    QTest::newRow("negative, zeros after the point") << qint64(-5) << 3 << "-0.005";
    QTest::newRow("digits exactly the decimals") << qint64(123) << 3 << "0.123";
    QTest::newRow("zero keeps its decimals") << qint64(0) << 2 << "0.00";
    QTest::newRow("trailing zeros kept") << qint64(1000) << 2 << "10.00";
    QTest::newRow("most negative register") << qint64(-32768) << 4 << "-3.2768";
    QTest::newRow("dp 5 is no scaling") << qint64(2515) << 5 << "2515";
    QTest::newRow("dp -1 is no scaling") << qint64(2515) << -1 << "2515";
}

void TestScaling::engineeringText()
{
    QFETCH(qint64, raw);
    QFETCH(int, decimals);
    QFETCH(QString, text);
    QCOMPARE(::engineeringText(raw, decimals), text);
}

void TestScaling::engineeringValueMatchesText_data()
{
    QTest::addColumn<qint64>("raw");
    QTest::addColumn<int>("decimals");
    for (int dp = 0; dp <= kDecimalsHighest + 1; ++dp) {
        for (qint64 raw : {qint64(-32768), qint64(-5), qint64(1), qint64(2515), qint64(32767)})
            QTest::addRow("%lld dp %d", raw, dp) << raw << dp;
    }
}

void TestScaling::engineeringValueMatchesText()
{
    // The number sent in JSON is the double the exact text reads as.
    QFETCH(qint64, raw);
    QFETCH(int, decimals);
    QCOMPARE(::engineeringValue(raw, decimals), ::engineeringText(raw, decimals).toDouble());
}

void TestScaling::unitOfType_data()
{
    QTest::addColumn<int>("inputType");
    QTest::addColumn<int>("temperature");
    QTest::addColumn<QString>("unit");
    QTest::newRow("K thermocouple, °C") << 0 << 0 << "°C";
    QTest::newRow("last RTD, °F") << 13 << 1 << "°F";
    QTest::newRow("PT100, K") << 11 << 2 << "K";
    QTest::newRow("first resistance") << 14 << 0 << "Ω";
    QTest::newRow("last resistance") << 16 << 2 << "Ω";
    QTest::newRow("first linear takes the operator's") << 17 << 0 << "MPa";
    QTest::newRow("last linear takes the operator's") << 31 << 1 << "MPa";
}

void TestScaling::unitOfType()
{
    QFETCH(int, inputType);
    QFETCH(int, temperature);
    QFETCH(QString, unit);
    QCOMPARE(channelUnit(inputType, TemperatureUnit(temperature), QStringLiteral("MPa")), unit);
}

namespace
{
ScalingRegisters registersWith(qint32 type, qint32 dp, qint32 temperature)
{
    ScalingRegisters regs{};
    for (int ch = 0; ch < kScaledChannels; ++ch) {
        regs[ch * kChannelRegisterStride + kInputTypeOffset] = 0;
        regs[ch * kChannelRegisterStride + kDecimalsOffset] = 1;
        regs[ch * kChannelRegisterStride + kInputUpperOffset] = 13000;
        regs[ch * kChannelRegisterStride + kInputLowerOffset] = -2000;
    }
    regs[kInputTypeOffset] = type;
    regs[kDecimalsOffset] = dp;
    regs[kTemperatureUnitRegister - kScalingFirstRegister] = temperature;
    return regs;
}
} // namespace

void TestScaling::registersRead_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("dp");
    QTest::addColumn<int>("temperature");
    QTest::addColumn<bool>("ch1Scaled");
    QTest::addColumn<bool>("othersScaled");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("problem");
    QTest::newRow("all well") << 0 << 1 << 0 << true << true << "°C"
                              << "";
    QTest::newRow("dp 4 is the last") << 0 << 4 << 0 << true << true << "°C"
                                      << "";
    QTest::newRow("dp 5 refused") << 0 << 5 << 0 << false << true << ""
                                  << "CH1 小数点 5 超出 0～4";
    QTest::newRow("dp -1 refused") << 0 << -1 << 0 << false << true << ""
                                   << "CH1 小数点 -1 超出 0～4";
    QTest::newRow("type 31 linear") << 31 << 2 << 0 << true << true << "m³/h"
                                    << "";
    QTest::newRow("type 32 refused") << 32 << 2 << 0 << false << true << ""
                                     << "CH1 输入类型 32 超出 0～31";
    QTest::newRow("type -1 refused") << -1 << 2 << 0 << false << true << ""
                                     << "CH1 输入类型 -1 超出 0～31";
    QTest::newRow("Kelvin is the last unit") << 0 << 1 << 2 << true << true << "K"
                                             << "";
    QTest::newRow("unit 3 refuses the temperature channels") << 0 << 1 << 3 << false << false << ""
                                                             << "温度单位 3 超出 0～2";
    QTest::newRow("unit 3 leaves a linear channel") << 20 << 1 << 3 << true << false << "m³/h"
                                                    << "温度单位 3 超出 0～2";
}

void TestScaling::registersRead()
{
    QFETCH(int, type);
    QFETCH(int, dp);
    QFETCH(int, temperature);
    QFETCH(bool, ch1Scaled);
    QFETCH(bool, othersScaled);
    QFETCH(QString, unit);
    QFETCH(QString, problem);
    const OperatorUnits units{QStringLiteral("m³/h"), QString(), QString(), QString()};
    const ScalingReading reading =
        scalingFromRegisters(registersWith(type, dp, temperature), units);
    QCOMPARE(bool(reading.channels[0]), ch1Scaled);
    for (int ch = 1; ch < kScaledChannels; ++ch)
        QCOMPARE(bool(reading.channels[ch]), othersScaled);
    if (ch1Scaled) {
        QCOMPARE(reading.channels[0]->unit, unit);
        QCOMPARE(reading.channels[0]->decimals, dp);
        QCOMPARE(reading.channels[0]->upper, 13000);
        QCOMPARE(reading.channels[0]->lower, -2000);
    }
    QCOMPARE(reading.problems.isEmpty() ? QString() : reading.problems.first(), problem);
}

void TestScaling::badReadKeepsLastKnown()
{
    const OperatorUnits units{};
    const KnownScaling first = scalingFromRegisters(registersWith(0, 1, 0), units).channels;
    const KnownScaling bad = scalingFromRegisters(registersWith(0, 9, 0), units).channels;
    const KnownScaling merged = mergeScaling(first, bad);
    QVERIFY(merged[0]);
    QCOMPARE(merged[0]->decimals, 1);
    // A good read replaces what was known.
    const KnownScaling changed = scalingFromRegisters(registersWith(0, 2, 0), units).channels;
    QCOMPARE(mergeScaling(merged, changed)[0]->decimals, 2);
    // Nothing known and nothing read: still nothing (raw), never a guess.
    QVERIFY(!mergeScaling(KnownScaling{}, bad)[0]);
}

void TestScaling::unitText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("unit");
    QTest::newRow("plain") << "MPa" << true << "MPa";
    QTest::newRow("superscript and slash") << "m³/h" << true << "m³/h";
    QTest::newRow("blanks trimmed") << "  % " << true << "%";
    QTest::newRow("empty clears") << "" << true << "";
    QTest::newRow("longest") << QString(kUnitTextLongest, QLatin1Char('x')) << true
                             << QString(kUnitTextLongest, QLatin1Char('x'));
    QTest::newRow("one too long") << QString(kUnitTextLongest + 1, QLatin1Char('x')) << false << "";
    QTest::newRow("200 characters") << QString(200, QLatin1Char('x')) << false << "";
    QTest::newRow("long blanks around a short unit")
        << QString(30, QLatin1Char(' ')) + "kPa" + QString(30, QLatin1Char(' ')) << true << "kPa";
    QTest::newRow("line feed") << "m\nh" << false << "";
    QTest::newRow("tab") << "m\th" << false << "";
    QTest::newRow("nul") << QString(QChar(0)) + "x" << false << "";
    QTest::newRow("double quote") << "\"MPa" << false << "";
    QTest::newRow("single quote") << "MPa'); DROP TABLE events;--" << false << "";
    QTest::newRow("backslash") << "\\u0000" << false << "";
    QTest::newRow("comma") << "m,h" << false << "";
    QTest::newRow("semicolon") << "m;h" << false << "";
}

void TestScaling::unitText()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(QString, unit);
    const UnitTextCheck check = checkUnitText(text);
    QCOMPARE(check.accepted, accepted);
    QCOMPARE(check.unit, unit);
    QCOMPARE(check.message.isEmpty(), accepted);
}

void TestScaling::unitOption_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("channel"); // -1: refused
    QTest::addColumn<QString>("unit");
    const QStringList base{"zelmar", "--record"};
    QTest::newRow("channel 1") << base + QStringList{"--unit", "1=MPa"} << 0 << "MPa";
    QTest::newRow("channel 4") << base + QStringList{"--unit", "4=m³/h"} << 3 << "m³/h";
    QTest::newRow("empty clears") << base + QStringList{"--unit", "2="} << 1 << "";
    QTest::newRow("channel 0") << base + QStringList{"--unit", "0=MPa"} << -1 << "";
    QTest::newRow("channel 5") << base + QStringList{"--unit", "5=MPa"} << -1 << "";
    QTest::newRow("no channel") << base + QStringList{"--unit", "=MPa"} << -1 << "";
    QTest::newRow("no equals sign") << base + QStringList{"--unit", "MPa"} << -1 << "";
    QTest::newRow("a comma in the unit") << base + QStringList{"--unit", "1=a,b"} << -1 << "";
}

void TestScaling::unitOption()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, channel);
    QFETCH(QString, unit);
    const RecordOptions options = parseRecordOptions(arguments);
    QCOMPARE(options.isValid(), channel >= 0);
    if (channel < 0) {
        QVERIFY(options.error.startsWith(QStringLiteral("--unit")));
        return;
    }
    QVERIFY(options.units[channel]);
    QCOMPARE(*options.units[channel], unit);
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestScaling scaling;
    TestScalingStore store;
    TestScalingLink link;
    TestScalingCsv csv;
    return QTest::qExec(&scaling, argc, argv) | QTest::qExec(&store, argc, argv) |
           QTest::qExec(&link, argc, argv) | QTest::qExec(&csv, argc, argv);
}
#include "tst_scaling.moc"
