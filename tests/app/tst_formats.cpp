#include "base/DateTime.h"
#include "base/Formats.h"
#include "base/NumberText.h"

#include <QTest>

class TestFormats : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }

    void oneDecimal_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 22.0 << "22";
        QTest::newRow("tie up") << 21.25 << "21,3";
        QTest::newRow("tie negative") << -21.25 << "-21,3";
        QTest::newRow("below tie") << 21.24 << "21,2";
        QTest::newRow("binary 0.15") << 0.15 << "0,2";
        QTest::newRow("binary 1.005") << 1.05 << "1,1";
        QTest::newRow("carry") << 9.96 << "10";
        QTest::newRow("small negative is zero") << -0.04 << "0";
        QTest::newRow("negative tenth") << -0.05 << "-0,1";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("large") << 123456.75 << "123456,8";
    }
    void oneDecimal()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(numbertext::oneDecimal(value), text);
    }

    void general_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("negative half") << -2.5 << "-2,5";
        QTest::newRow("sum") << 0.1 + 0.2 << "0,3";
        QTest::newRow("whole") << 20.0 << "20";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("tiny") << 1.5e-7 << "1,5E-7";
        QTest::newRow("huge") << 1e20 << "1E20";
    }
    void general()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(numbertext::general(value), text);
    }

    void parseFloat()
    {
        double v = 0;
        QVERIFY(numbertext::parseFloat(QStringLiteral(" -2,5 "), v));
        QCOMPARE(v, -2.5);
        QVERIFY(!numbertext::parseFloat(QStringLiteral("-2.5"), v));
        QVERIFY(!numbertext::parseFloat(QStringLiteral("abc"), v));
        QVERIFY(!numbertext::parseFloat(QString(), v));
        QVERIFY(!numbertext::parseFloat(QStringLiteral("1e999"), v));
    }

    void dateTimeRoundTrip()
    {
        const QDateTime t(QDate(2026, 12, 8), QTime(14, 5, 9));
        const double d = datetime::fromQDateTime(t);
        QCOMPARE(datetime::toQDateTime(d), t);
        // A value a hair below a whole second comes back as that second.
        QCOMPARE(datetime::toQDateTime(d - 1e-12), t);
        QCOMPARE(datetime::fromQDateTime(QDateTime(QDate(1899, 12, 30), QTime(0, 0))), 0.0);
        QCOMPARE(datetime::fromQDateTime(QDateTime(QDate(1900, 1, 1), QTime(12, 0))), 2.5);
    }

    void dateTimeText()
    {
        QCOMPARE(datetime::text(QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9))),
                 QStringLiteral("08.12.2026 14:05:09"));
        QCOMPARE(datetime::text(QDateTime(QDate(2026, 12, 8), QTime(9, 5, 9))),
                 QStringLiteral("08.12.2026 9:05:09"));
        QCOMPARE(datetime::text(QDateTime(QDate(2026, 12, 8), QTime(0, 0))), QStringLiteral("08.12.2026"));
    }

    void localeReduction()
    {
        const Formats f = Formats::fromLocale(QLocale(QLocale::Russian, QLocale::Russia));
        QCOMPARE(f.decimalSeparator, QLatin1Char(','));
        QVERIFY(!f.longTime.contains(QLatin1Char('t')));
    }
};

QTEST_GUILESS_MAIN(TestFormats)
#include "tst_formats.moc"
