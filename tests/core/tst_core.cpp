#include "clock.h"
#include "csv.h"
#include "daytime.h"
#include "numbers.h"
#include "sharedtable.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <clocale>
#include <cmath>
#include <ctime>
#include <limits>
#include <optional>

// The helpers every window shares: the leading-number parse, rounding, the
// fitting checks, the single-precision text form, day serials and date texts.
class TestCore : public QObject
{
    Q_OBJECT

private slots:
    void leadingNumberReadsTheFront_data();
    void leadingNumberReadsTheFront();
    void roundHalfEvenGoesToTheEvenNeighbour_data();
    void roundHalfEvenGoesToTheEvenNeighbour();
    void int32FitsOrFails_data();
    void int32FitsOrFails();
    void singleTextIsShortest_data();
    void singleTextIsShortest();
    void doubleTextIsShortest_data();
    void doubleTextIsShortest();
    void numbersIgnoreTheLocale();
    void daySerialsCountFromDayZero_data();
    void daySerialsCountFromDayZero();
    void timeFractionsRoundTrip_data();
    void timeFractionsRoundTrip();
    void chartAndClockTexts_data();
    void chartAndClockTexts();
    void toolsOwnDateForm_data();
    void toolsOwnDateForm();
    void localMomentForms_data();
    void localMomentForms();
    void clockCanStandStill();
    void zoneFileNamedOnlyWhenNoZoneIs_data();
    void zoneFileNamedOnlyWhenNoZoneIs();
    void sharedTableRefusesOutOfBounds();
    void csvFieldQuotesWhatWouldSplitIt_data();
    void csvFieldQuotesWhatWouldSplitIt();
};

void TestCore::leadingNumberReadsTheFront_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::addColumn<bool>("hasNumber");
    QTest::newRow("digits then letters") << "500abc" << 500.0 << true;
    QTest::newRow("no number") << "abc" << 0.0 << false;
    QTest::newRow("blank inside digits") << "1 000" << 1000.0 << true;
    QTest::newRow("decimal") << "12.5" << 12.5 << true;
    QTest::newRow("sign alone") << "-" << 0.0 << false;
    QTest::newRow("empty") << "" << 0.0 << false;
    QTest::newRow("blank, sign, exponent, tail") << " -3.5e2x" << -350.0 << true;
    QTest::newRow("exponent") << "1e9" << 1e9 << true;
    QTest::newRow("second point ends it") << "1.2.3" << 1.2 << true;
    QTest::newRow("tab and line feed inside") << "1\t2\n3" << 123.0 << true;
    QTest::newRow("plus sign") << "+7" << 7.0 << true;
    QTest::newRow("port list entry") << "1 " << 1.0 << true;
    QTest::newRow("COM3") << "COM3" << 0.0 << false;
    QTest::newRow("comma ends it") << "2,5" << 2.0 << true;
    QTest::newRow("leading point") << ".5" << 0.5 << true;
    QTest::newRow("point alone") << "." << 0.0 << false;
    QTest::newRow("dangling exponent") << "12e" << 12.0 << true;
    QTest::newRow("dangling exponent sign") << "12e-" << 12.0 << true;
    QTest::newRow("sign after digits ends it") << "3-4" << 3.0 << true;
    QTest::newRow("two signs") << "--5" << 0.0 << false;
    QTest::newRow("blank after sign") << "- 5" << -5.0 << true;
    QTest::newRow("Chinese text after the number") << "25秒" << 25.0 << true;
    QTest::newRow("negative exponent") << "25e-1" << 2.5 << true;
    QTest::newRow("too large for a double")
        << "1e999" << std::numeric_limits<double>::infinity() << true;
    QTest::newRow("too large, negative")
        << "-1e999" << -std::numeric_limits<double>::infinity() << true;
    QTest::newRow("too small for a double") << "1e-999" << 0.0 << true;
}

void TestCore::leadingNumberReadsTheFront()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QFETCH(bool, hasNumber);
    QCOMPARE(leadingNumber(text), expected);
    // Text without a number reads as 0 but is told apart from a typed "0".
    QCOMPARE(leadingNumberIfAny(text).has_value(), hasNumber);
}

void TestCore::roundHalfEvenGoesToTheEvenNeighbour_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("expected");
    QTest::newRow("2.5") << 2.5 << 2.0;
    QTest::newRow("3.5") << 3.5 << 4.0;
    QTest::newRow("-2.5") << -2.5 << -2.0;
    QTest::newRow("-3.5") << -3.5 << -4.0;
    QTest::newRow("0.5") << 0.5 << 0.0;
    QTest::newRow("1.5") << 1.5 << 2.0;
    QTest::newRow("2.51") << 2.51 << 3.0;
    QTest::newRow("-0.4") << -0.4 << 0.0;
    // The single 0.35 lies just below 0.35; times 10 in double it stays below 3.5.
    QTest::newRow("tenths entry 0.35 as single") << double(0.35f) * 10.0 << 3.0;
}

void TestCore::roundHalfEvenGoesToTheEvenNeighbour()
{
    QFETCH(double, value);
    QFETCH(double, expected);
    QCOMPARE(roundHalfEven(value), expected);
}

void TestCore::int32FitsOrFails_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<qint32>("expected");
    QTest::newRow("largest") << 2147483647.0 << true << std::numeric_limits<qint32>::max();
    QTest::newRow("largest + 0.4") << 2147483647.4 << true << std::numeric_limits<qint32>::max();
    QTest::newRow("rounds past the top") << 2147483647.5 << false << 0;
    QTest::newRow("smallest") << -2147483648.0 << true << std::numeric_limits<qint32>::min();
    QTest::newRow("below the smallest") << -2147483649.0 << false << 0;
    QTest::newRow("1e10") << 1e10 << false << 0;
    QTest::newRow("half to even") << 2.5 << true << 2;
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << false << 0;
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << false << 0;
}

void TestCore::int32FitsOrFails()
{
    QFETCH(double, value);
    QFETCH(bool, fits);
    const auto r = toInt32(value);
    QCOMPARE(r.has_value(), fits);
    if (fits)
        QTEST(*r, "expected");
}

void TestCore::singleTextIsShortest_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("123.5") << 123.5f << "123.5";
    QTest::newRow("100") << 100.0f << "100";
    QTest::newRow("-0.5") << -0.5f << "-0.5";
    QTest::newRow("0.1 as single") << 0.1f << "0.1";
    QTest::newRow("seven digits") << 1234567.0f << "1234567";
    QTest::newRow("eight digits go to exponent form") << 12345678.0f << "1.234568E+07";
    QTest::newRow("zero") << 0.0f << "0";
    QTest::newRow("negative zero") << -0.0f << "0";
    QTest::newRow("one millionth") << 1e-6f << "1E-06";
    QTest::newRow("small but plain") << 0.00001f << "0.00001";
    QTest::newRow("register value") << -32768.0f << "-32768";
    QTest::newRow("largest whole number in plain digits") << 9999999.0f << "9999999";
    QTest::newRow("smallest whole number in plain digits") << -9999999.0f << "-9999999";
    QTest::newRow("ten million goes to exponent form") << 1e7f << "1E+07";
    QTest::newRow("whole with trailing zeros") << 1200000.0f << "1200000";
    QTest::newRow("single 1/3") << 1.0f / 3.0f << "0.3333333";
    // The search starts at the shortest digits that read back; past seven it stops at seven.
    QTest::newRow("eight digits to read back, seven shown") << 123456.79f << "123456.8";
    QTest::newRow("eight digits to read back, rounded to a whole") << 1.0000001f << "1";
    QTest::newRow("negative fraction") << -0.37f << "-0.37";
    QTest::newRow("below the plain digits' smallest") << 9.99e-6f << "9.99E-06";
    QTest::newRow("fraction just below ten million") << 8388607.5f << "8388608";
}

void TestCore::singleTextIsShortest()
{
    QFETCH(float, value);
    QFETCH(QString, expected);
    QCOMPARE(singleText(value), expected);
    QByteArray line("x,");
    appendSingleText(line, value);
    QCOMPARE(line, "x," + expected.toLatin1());
}

void TestCore::doubleTextIsShortest_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("tenths 25") << 25 / 10.0 << "2.5";
    QTest::newRow("tenths 30") << 30 / 10.0 << "3";
    QTest::newRow("tenths 1000") << 1000 / 10.0 << "100";
    QTest::newRow("tenths -5") << -5 / 10.0 << "-0.5";
    QTest::newRow("tenths 3") << 3 / 10.0 << "0.3";
    QTest::newRow("tenths 32767") << 32767 / 10.0 << "3276.7";
}

void TestCore::doubleTextIsShortest()
{
    QFETCH(double, value);
    QTEST(doubleText(value), "expected");
}

// The operator's locale may use a decimal comma (Qt takes the C library's locale
// from the environment); operator text and shown values keep the full stop.
void TestCore::numbersIgnoreTheLocale()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile source(dir.filePath(QStringLiteral("comma.src")));
    QVERIFY(source.open(QIODevice::WriteOnly));
    source.write("LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\ngrouping 3;3\n"
                 "END LC_NUMERIC\n");
    source.close();
    // A locale of just a decimal comma, compiled here so that no installed locale is needed.
    QProcess localedef; // its warnings about the categories left out are expected
    localedef.start(QStringLiteral("localedef"),
                    {QStringLiteral("-c"), QStringLiteral("-i"), source.fileName(),
                     QStringLiteral("-f"), QStringLiteral("UTF-8"),
                     dir.filePath(QStringLiteral("comma"))});
    localedef.waitForFinished();
    if (!QFileInfo::exists(dir.filePath(QStringLiteral("comma/LC_NUMERIC"))))
        QSKIP("localedef or the locales package is missing");
    const QByteArray previous = std::setlocale(LC_NUMERIC, nullptr);
    qputenv("LOCPATH", QFile::encodeName(dir.path()));
    QVERIFY(std::setlocale(LC_NUMERIC, "comma"));
    QCOMPARE(QByteArray(std::localeconv()->decimal_point), QByteArray(","));

    const double read = leadingNumber(QStringLiteral("12.5"));
    const double readExponent = leadingNumber(QStringLiteral(" -3.5e2x"));
    const double readComma = leadingNumber(QStringLiteral("2,5"));
    const QString shown = singleText(123.5f);
    const QString shownExponent = singleText(12345678.0f);
    const QString shownThird = singleText(1.0f / 3.0f);
    const QString shownTenths = doubleText(25 / 10.0);

    std::setlocale(LC_NUMERIC, previous.constData());
    qunsetenv("LOCPATH");
    QCOMPARE(read, 12.5);
    QCOMPARE(readExponent, -350.0);
    QCOMPARE(readComma, 2.0);
    QCOMPARE(shown, QStringLiteral("123.5"));
    QCOMPARE(shownExponent, QStringLiteral("1.234568E+07"));
    QCOMPARE(shownThird, QStringLiteral("0.3333333"));
    QCOMPARE(shownTenths, QStringLiteral("2.5"));
}

void TestCore::daySerialsCountFromDayZero_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<double>("serial");
    QTest::newRow("day zero") << QDate(1899, 12, 30) << 0.0;
    QTest::newRow("day one") << QDate(1899, 12, 31) << 1.0;
    QTest::newRow("before day zero") << QDate(1899, 12, 29) << -1.0;
    QTest::newRow("1 March 1900") << QDate(1900, 3, 1) << 61.0;
    QTest::newRow("2000") << QDate(2000, 1, 1) << 36526.0;
    QTest::newRow("6 December 2026") << QDate(2026, 12, 6) << 46362.0;
}

void TestCore::daySerialsCountFromDayZero()
{
    QFETCH(QDate, date);
    QFETCH(double, serial);
    QCOMPARE(daySerial(date), serial);
    QCOMPARE(dateFromSerial(serial), date);
    // A time of day in the serial does not change the date.
    if (serial >= 0)
        QCOMPARE(dateFromSerial(serial + 0.75), date);
}

void TestCore::timeFractionsRoundTrip_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<double>("fraction");
    QTest::newRow("midnight") << QTime(0, 0) << 0.0;
    QTest::newRow("noon") << QTime(12, 0) << 0.5;
    QTest::newRow("06:00") << QTime(6, 0) << 0.25;
    QTest::newRow("last second") << QTime(23, 59, 59) << 86399 / 86400.0;
    QTest::newRow("one second") << QTime(0, 0, 1) << 1 / 86400.0;
}

void TestCore::timeFractionsRoundTrip()
{
    QFETCH(QTime, time);
    QFETCH(double, fraction);
    QCOMPARE(dayFraction(time), fraction);
    QCOMPARE(timeFromFraction(fraction), time);
    QCOMPARE(timeFromFraction(46362.0 + fraction), time);
}

void TestCore::chartAndClockTexts_data()
{
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QString>("clockDate");
    QTest::addColumn<QString>("clockTime");
    QTest::addColumn<QString>("chartDate");
    QTest::addColumn<QString>("chartTime");
    QTest::newRow("a morning") << QDateTime(QDate(2026, 12, 6), QTime(9, 5, 7)) << "12-06-2026"
                               << "09:05:07"
                               << "2026/12/06"
                               << "09:05:07";
    QTest::newRow("day zero, midnight")
        << QDateTime(QDate(1899, 12, 30), QTime(0, 0)) << "12-30-1899"
        << "00:00:00"
        << "1899/12/30"
        << "00:00:00";
}

// The clock read-out takes a date and time; the chart's labels take the day
// serial and the fraction of a day of the same moment.
void TestCore::chartAndClockTexts()
{
    QFETCH(QDateTime, moment);
    QFETCH(QString, clockDate);
    QFETCH(QString, clockTime);
    QFETCH(QString, chartDate);
    QFETCH(QString, chartTime);
    QCOMPARE(clockDateText(moment), clockDate);
    QCOMPARE(clockTimeText(moment), clockTime);
    QCOMPARE(chartDateText(daySerial(moment.date())), chartDate);
    QCOMPARE(chartTimeText(dayFraction(moment.time())), chartTime);
}

void TestCore::toolsOwnDateForm_data()
{
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("text");
    QTest::newRow("one digit everywhere")
        << QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)) << "2026-01-02"
        << "2026-01-02 03:04:05";
    QTest::newRow("last second of a year")
        << QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)) << "2026-12-31"
        << "2026-12-31 23:59:59";
    QTest::newRow("milliseconds are not shown")
        << QDateTime(QDate(2026, 12, 7), QTime(8, 0, 0, 999)) << "2026-12-07"
        << "2026-12-07 08:00:00";
    QTest::newRow("day zero of the serials")
        << QDateTime(QDate(1899, 12, 30), QTime(0, 0)) << "1899-12-30"
        << "1899-12-30 00:00:00";
}

void TestCore::toolsOwnDateForm()
{
    QFETCH(QDateTime, moment);
    QFETCH(QString, date);
    QFETCH(QString, text);
    QCOMPARE(dateText(moment.date()), date);
    QCOMPARE(momentText(moment), text);
}

// The forms an operator may write a moment in, and the near misses refused.
void TestCore::localMomentForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("moment"); // invalid: refused
    const QDateTime eight(QDate(2026, 12, 7), QTime(8, 0));
    QTest::newRow("minutes") << "2026-12-07 08:00" << eight;
    QTest::newRow("seconds") << "2026-12-07 08:00:05" << eight.addSecs(5);
    QTest::newRow("T minutes") << "2026-12-07T08:00" << eight;
    QTest::newRow("T seconds") << "2026-12-07T08:00:05" << eight.addSecs(5);
    QTest::newRow("date alone") << "2026-12-07" << QDateTime(QDate(2026, 12, 7), QTime(0, 0));
    QTest::newRow("spaces around") << "  2026-12-07 08:00 " << eight;
    QTest::newRow("one-digit hour") << "2026-12-07 8:00" << QDateTime();
    QTest::newRow("hour 24") << "2026-12-07 24:00" << QDateTime();
    QTest::newRow("with an offset") << "2026-12-07T08:00:00+01:00" << QDateTime();
    QTest::newRow("empty") << "" << QDateTime();
}

void TestCore::localMomentForms()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, moment);
    const std::optional<QDateTime> read = parseLocalMoment(text);
    QCOMPARE(read.has_value(), moment.isValid());
    if (read)
        QCOMPARE(*read, moment);
}

void TestCore::clockCanStandStill()
{
    const QDateTime fixed(QDate(2026, 12, 6), QTime(23, 59, 59, 900));
    SystemClock::setFixed(fixed);
    QCOMPARE(SystemClock::now(), QDateTime(QDate(2026, 12, 6), QTime(23, 59, 59)));
    SystemClock::setSource({});
    QVERIFY(qAbs(SystemClock::now().secsTo(QDateTime::currentDateTime())) <= 1);
    QCOMPARE(SystemClock::now().time().msec(), 0);
}

void TestCore::zoneFileNamedOnlyWhenNoZoneIs_data()
{
    QTest::addColumn<std::optional<QByteArray>>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("no zone: the machine's file")
        << std::optional<QByteArray>() << QByteArray(":/etc/localtime");
    QTest::newRow("a zone named") << std::optional<QByteArray>("Europe/Berlin")
                                  << QByteArray("Europe/Berlin");
    QTest::newRow("empty: UTC, kept") << std::optional<QByteArray>("") << QByteArray();
    QTest::newRow("a file named") << std::optional<QByteArray>(":/usr/share/zoneinfo/Asia/Shanghai")
                                  << QByteArray(":/usr/share/zoneinfo/Asia/Shanghai");
}

void TestCore::zoneFileNamedOnlyWhenNoZoneIs()
{
    QFETCH(std::optional<QByteArray>, before);
    QFETCH(QByteArray, after);
    if (!QFileInfo::exists(QStringLiteral("/etc/localtime")))
        QSKIP("this machine has no /etc/localtime");
    const bool wasSet = qEnvironmentVariableIsSet("TZ");
    const QByteArray was = qgetenv("TZ");
    const auto restore = qScopeGuard([&] {
        if (wasSet)
            qputenv("TZ", was);
        else
            qunsetenv("TZ");
        tzset();
    });
    if (before)
        qputenv("TZ", *before);
    else
        qunsetenv("TZ");
    tzset();
    const QByteArray zoneBefore = QTimeZone::systemTimeZoneId();
    const int offsetBefore = QDateTime::currentDateTime().offsetFromUtc();

    SystemClock::readZoneFileOnce();
    QVERIFY(qEnvironmentVariableIsSet("TZ"));
    QCOMPARE(qgetenv("TZ"), after);
    // The same zone, read from the same file.
    QCOMPARE(QTimeZone::systemTimeZoneId(), zoneBefore);
    QCOMPARE(QDateTime::currentDateTime().offsetFromUtc(), offsetBefore);
}

void TestCore::sharedTableRefusesOutOfBounds()
{
    SharedTable<qint32, 500> table;
    QCOMPARE((SharedTable<qint32, 500>::kSize), 501);
    QVERIFY(table.set(0, 7));
    QVERIFY(table.set(500, 9));
    QVERIFY(!table.set(501, 1));
    QVERIFY(!table.set(-1, 1));
    QCOMPARE(table.get(0), std::optional<qint32>(7));
    QCOMPARE(table.get(500), std::optional<qint32>(9));
    QVERIFY(!table.get(501).has_value());
    QVERIFY(!table.get(-1).has_value());
    QCOMPARE(table.get(250), std::optional<qint32>(0)); // zero-filled at start
}

// One row per character that would split a record, and the plain field beside them.
void TestCore::csvFieldQuotesWhatWouldSplitIt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain") << "通道一报警 ON 300"
                           << "通道一报警 ON 300";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("comma") << "2,5"
                           << "\"2,5\"";
    QTest::newRow("quote") << "say \"x\""
                           << "\"say \"\"x\"\"\"";
    QTest::newRow("line feed") << "first\nsecond"
                               << "\"first\nsecond\"";
    QTest::newRow("carriage return") << "first\rsecond"
                                     << "\"first\rsecond\"";
}

void TestCore::csvFieldQuotesWhatWouldSplitIt()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(csvField(text), field);
    QCOMPARE(csvRecord({text, QStringLiteral("b")}), field + QStringLiteral(",b\r\n"));
}

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
