#include "view/TrayIconPicture.h"

#include <QFontMetrics>
#include <QPainter>
#include <QSet>
#include <QTest>

namespace {

const QRgb Navy = qRgb(0, 0, 128);
const QRgb TableWhite = qRgb(255, 251, 240);

// The icon drawn in the default colours of a new sensor: blue background, white text.
trayicon::IconPicture drawDefault(const QString &text)
{
    const auto picture = trayicon::draw(text, trayicon::defaultFont(), QColor(0, 0, 255), QColor(255, 255, 255));
    if (!picture)
        qFatal("no drawing surface");
    return *picture;
}

// Columns (or rows) of the icon that hold text, as [first, last]; {-1, -1} when none.
QPair<int, int> inkSpan(const trayicon::IconPicture &picture, bool columns)
{
    int first = -1;
    int last = -1;
    for (int a = 0; a < trayicon::Size; ++a) {
        for (int b = 0; b < trayicon::Size; ++b) {
            const QRgb c = columns ? picture.colour(a, b) : picture.colour(b, a);
            if (c != Navy) {
                if (first < 0)
                    first = a;
                last = a;
            }
        }
    }
    return {first, last};
}

} // namespace

// The tray icon picture: text on a square in the 16-colour table, doubled to 32 x 32.
class TestTrayIconPicture : public QObject
{
    Q_OBJECT

private slots:
    void emptyTextIsAPlainOpaqueSquare()
    {
        const QImage image = drawDefault(QString()).toImage();
        QCOMPARE(image.size(), QSize(32, 32));
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x)
                QCOMPARE(image.pixel(x, y), 0xff000000u | Navy);
        }
    }

    void textInTableWhiteByWholeBlocks()
    {
        const trayicon::IconPicture picture = drawDefault(QStringLiteral("-88"));
        const QImage image = picture.toImage();
        QSet<QRgb> colours;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                colours.insert(picture.colour(x, y));
                QCOMPARE(qAlpha(image.pixel(x, y)), 255);
                // Pixel replication: every source pixel is a 2 x 2 block, nothing blended.
                QCOMPARE(picture.index(x, y), picture.index(x & ~1, y & ~1));
            }
        }
        QCOMPARE(colours, (QSet<QRgb>{Navy, TableWhite}));
    }

    void oneDigitIsCentred()
    {
        const trayicon::IconPicture picture = drawDefault(QStringLiteral("5"));
        const auto [left, right] = inkSpan(picture, true);
        const auto [top, bottom] = inkSpan(picture, false);
        QVERIFY(left > 0);
        // The advance box is centred, the glyph's bearings make the rest: within 2 source pixels.
        QVERIFY2(std::abs(left - (31 - right)) <= 4, qPrintable(QStringLiteral("%1..%2").arg(left).arg(right)));
        QVERIFY2(std::abs(top - (31 - bottom)) <= 6, qPrintable(QStringLiteral("%1..%2").arg(top).arg(bottom)));
    }

    void textWiderThanTheSquareIsCutOnBothSides()
    {
        const trayicon::IconPicture picture = drawDefault(QStringLiteral("88888888"));
        const auto [left, right] = inkSpan(picture, true);
        QCOMPARE(left, 0);
        QCOMPARE(right, 31);
    }

    // Every reading a sensor can give shows whole, whatever faces the machine has.
    void everyReadingFitsTheIcon()
    {
        const QFont font = trayicon::defaultFont();
        for (int degrees = -55; degrees <= 125; ++degrees) {
            const QString text = QString::number(degrees);
            QVERIFY2(QFontMetrics(font).horizontalAdvance(text) <= trayicon::SourceSize, qPrintable(text));
            // The ink columns of the text on a square wide enough for anything.
            QImage wide(64, trayicon::SourceSize, QImage::Format_RGB32);
            wide.fill(Qt::black);
            {
                QPainter painter(&wide);
                painter.setFont(font);
                painter.setPen(Qt::white);
                painter.drawText(QPoint(16, QFontMetrics(font).ascent()), text);
            }
            int inked = 0;
            for (int x = 0; x < wide.width(); ++x) {
                for (int y = 0; y < wide.height(); ++y) {
                    if (wide.pixel(x, y) != qRgb(0, 0, 0)) {
                        ++inked;
                        break;
                    }
                }
            }
            const auto [left, right] = inkSpan(drawDefault(text), true);
            QVERIFY2(left >= 0 && (right - left + 1) / 2 >= inked,
                     qPrintable(QStringLiteral("%1 shows %2 of %3 columns").arg(text).arg((right - left + 1) / 2).arg(inked)));
        }
    }

    void tipKeepsSixtyThreeCharacters()
    {
        QCOMPARE(trayicon::cutTip(QString(70, QLatin1Char('a'))).size(), 63);
        QCOMPARE(trayicon::cutTip(QStringLiteral("Кухня 21,5°")), QStringLiteral("Кухня 21,5°"));
        // A character outside the basic plane is not split in half.
        const QString tip = QString(62, QLatin1Char('a')) + QString::fromUtf8("\U0001F321") + QStringLiteral("x");
        QCOMPARE(trayicon::cutTip(tip), QString(62, QLatin1Char('a')));
    }
};

QTEST_MAIN(TestTrayIconPicture)
#include "tst_trayiconpicture.moc"
