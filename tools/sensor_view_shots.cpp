// Builds a sensor panel with three sensors, the current-readings grid and the live chart as
// the main window shows them, and saves a picture of each: panel.png, sns.png, chart.png in
// the directory given (default: the current one). For looking at them, not for tests.

#include "base/DialogBoxes.h"
#include "base/Formats.h"
#include "base/NumberText.h"
#include "base/StringGrid.h"
#include "monitor/ChartState.h"
#include "monitor/SnsGrid.h"
#include "monitor/ui/LiveChart.h"
#include "monitor/ui/SnsGridView.h"
#include "sensors/ui/SensorSlots.h"
#include "view/ThermometerPictures.h"
#include "view/TrendPictures.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QTime>

#include <cmath>
#include <cstdio>

namespace {

class NoBoxes final : public DialogBoxes
{
public:
    void message(const QString &) override {}
    bool confirm(const QString &) override { return false; }
    void error(const QString &) override {}
    QString openFile(const QString &, const QString &, const QString &) override { return {}; }
};

bool save(QWidget &widget, const QString &path)
{
    const bool ok = widget.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The main window's font: a small sans face, as the grids are laid out for it.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    QApplication::setFont(font);
    Formats::setCurrent(Formats::russian());
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());

    constexpr int CharMaxCount = 60;
    QWidget panel;
    panel.resize(420, 260);
    QPalette black = panel.palette();
    black.setColor(QPalette::Window, Qt::black);
    panel.setPalette(black);
    panel.setAutoFillBackground(true);

    LiveChart chart;
    chart.resize(400, 260);
    StringGrid Sns(3, 2);
    sns::prepare(Sns);
    StringGrid SHour(26, 2);
    NoBoxes boxes;
    SensorSlots sensors(&panel, chart, Sns, SHour, boxes, [] { return CharMaxCount; });

    sensors.AddItem(60, 60, "Кухня", "28FF0A1B2C3D4E5F", true, 0, false, 0, 0, 255, CreateClearSign());
    sensors.AddItem(200, 90, "Улица", "10A1B2C3D4E5F601", true, 0, false, 0, 0, 16711680, CreateClearSign());
    sensors.AddItem(330, 150, "Чердак", "28AABBCCDDEEFF00", false, 0, false, 0, 0, 32768, CreateClearSign());
    sensors.DSItems[0].TempLabel->setText(numbertext::oneDecimal(21.5));
    sensors.DSItems[1].TempLabel->setText(numbertext::oneDecimal(-12.3));
    sensors.moveMarkerTo(1);

    ChartState state;
    state.PointCounter = CharMaxCount;
    const QTime start(14, 0, 0);
    for (int cycle = 0; cycle < 40; ++cycle) {
        ++state.PointCounter;
        const QString label = start.addSecs(cycle * 10).toString(QStringLiteral("hh:mm:ss"));
        const double kitchen = 21 + std::sin(cycle / 6.0);
        const double outside = -12 + cycle * 0.05;
        chart.addPoint(sensors.DSItems[0].Series, state.PointCounter, kitchen, label);
        state.noteReading(kitchen);
        if (cycle % 9 == 4) {
            chart.addNullPoint(sensors.DSItems[1].Series, state.PointCounter, label);
        } else {
            chart.addPoint(sensors.DSItems[1].Series, state.PointCounter, outside, label);
            state.noteReading(outside);
        }
        chart.addNullPoint(sensors.DSItems[2].Series, state.PointCounter, label);
    }
    const ChartState::Range range = state.autoBounds();
    chart.setLeftAxis(range.minimum, range.maximum);

    AddToSns(Sns, "Кухня", "28FF0A1B2C3D4E5F", "21,3", "0");
    AddToSns(Sns, "Кухня", "28FF0A1B2C3D4E5F", "21,5", "0");
    AddToSns(Sns, "Улица", "10A1B2C3D4E5F601", "-12", "1");
    AddToSns(Sns, "Улица", "10A1B2C3D4E5F601", "-12,3", "1");
    AddToSns(Sns, "Чердак", "28AABBCCDDEEFF00", "off", "2");
    AddToSns(Sns, "Подвал", "28000000000000AA", "5", "3");
    AddToSns(Sns, "Подвал", "28000000000000AA", "5", "3");
    AddToSns(Sns, "Гараж", "2800000000000055", "err", "4");
    SnsGridView grid(Sns);
    grid.resize(415, 130);

    panel.show();
    chart.show();
    grid.show();
    QApplication::processEvents();
    bool ok = save(panel, out.filePath(QStringLiteral("panel.png")));
    ok = save(grid, out.filePath(QStringLiteral("sns.png"))) && ok;
    // The bitmaps themselves, six times enlarged.
    QImage sheet(6 * (3 * 20 + 3 * 13), 6 * 50, QImage::Format_RGB32);
    sheet.fill(Qt::darkGray);
    {
        QPainter painter(&sheet);
        int x = 0;
        for (auto kind : {thermometer::Kind::On, thermometer::Kind::Off, thermometer::Kind::Marker}) {
            painter.drawImage(QPoint(x, 0), thermometer::bitmap(kind).scaled(6 * 17, 6 * 50));
            x += 6 * 20;
        }
        for (const QImage &trend : {trendpictures::up(), trendpictures::down(), trendpictures::same()}) {
            painter.drawImage(QPoint(x, 0), trend.scaled(6 * 11, 6 * 14));
            x += 6 * 13;
        }
    }
    ok = sheet.save(out.filePath(QStringLiteral("pictures.png"))) && ok;
    ok = save(chart, out.filePath(QStringLiteral("chart.png"))) && ok;
    return ok ? 0 : 1;
}
