// Measures the history window on an existing store: the time from "Обновить" to the chart
// drawn, and the process's peak memory.
//
//   history_bench --store FILE --level LEVEL --from YYYY-MM-DD --to YYYY-MM-DD [--dump FILE]
//
// LEVEL is second, minute, hour, day, month or year (or Detal's own item text). Every stored
// serial is ticked. The first line is "points=N seconds=S peak_mb=M"; a second line breaks the
// time down: how long the window took to show (its list is read at every showing), how long
// the statement held the window thread before the first row (the loading window stands there
// with an empty bar, the window draws nothing), and the rows and the drawing after it.
// --dump writes every point as "serial<TAB>x<TAB>y", one a line, to compare two builds. A store
// without hourly sums gets them first (timed on stderr), as the program does at start-up.
#include "base/Clock.h"
#include "base/DialogBoxes.h"
#include "base/Log.h"
#include "dialogs/ui/TFormLoading.h"
#include "history/HistoryQuery.h"
#include "history/ReadingStore.h"
#include "history/ui/HistoryChart.h"
#include "history/ui/TFormStats.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QTextStream>
#include <QTimer>

#include <algorithm>

#include <sys/resource.h>

#include <clocale>
#include <cstdio>

namespace {

class QuietLog final : public Log
{
public:
    void AddLog(const QString &message) override { std::fprintf(stderr, "log: %s\n", qPrintable(message)); }
    void addRawLine(const QString &line) override { std::fprintf(stderr, "log: %s\n", qPrintable(line)); }
};

// Boxes answered on the console: an error is printed and remembered.
class ConsoleBoxes final : public DialogBoxes
{
public:
    void message(const QString &text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
    bool confirm(const QString &) override { return false; }
    void error(const QString &text) override
    {
        std::fprintf(stderr, "error: %s\n", qPrintable(text));
        failed = true;
    }
    QString openFile(const QString &, const QString &, const QString &) override { return QString(); }
    bool failed = false;
};

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

QString levelItem(const QString &name)
{
    static const QStringList english{QStringLiteral("second"), QStringLiteral("minute"), QStringLiteral("hour"),
                                     QStringLiteral("day"),    QStringLiteral("month"),  QStringLiteral("year")};
    const qsizetype index = english.indexOf(name.toLower());
    if (index >= 0)
        return history::levelItems().at(index);
    return history::levelItems().contains(name) ? name : QString();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The figures are read by scripts: a decimal point whatever the locale.
    std::setlocale(LC_NUMERIC, "C");

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption storeOption(QStringLiteral("store"), QStringLiteral("The store file."), QStringLiteral("FILE"));
    const QCommandLineOption levelOption(QStringLiteral("level"), QStringLiteral("second ... year."), QStringLiteral("LEVEL"));
    const QCommandLineOption fromOption(QStringLiteral("from"), QStringLiteral("First day."), QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption toOption(QStringLiteral("to"), QStringLiteral("Last day."), QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption dumpOption(QStringLiteral("dump"), QStringLiteral("Write the points here."), QStringLiteral("FILE"));
    QCommandLineOption shotOption(QStringLiteral("shot"), QStringLiteral("Save a picture of the window."), QStringLiteral("PNG"));
    shotOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({storeOption, levelOption, fromOption, toOption, dumpOption, shotOption});
    parser.process(app);

    const QString store = parser.value(storeOption);
    const QString level = levelItem(parser.value(levelOption));
    const QDate from = QDate::fromString(parser.value(fromOption), Qt::ISODate);
    const QDate to = QDate::fromString(parser.value(toOption), Qt::ISODate);
    if (!QFileInfo(store).isFile() || level.isEmpty() || !from.isValid() || !to.isValid()) {
        std::fprintf(stderr, "usage: history_bench --store FILE --level second|minute|hour|day|month|year "
                             "--from YYYY-MM-DD --to YYYY-MM-DD [--dump FILE]\n");
        return 2;
    }

    SystemClock clock;
    QuietLog log;
    ConsoleBoxes boxes;
    // The store as the main window holds it: its connection string names the file.
    ReadingStore readings(QFileInfo(store).absolutePath() + QLatin1Char('/'), clock, log);
    if (QFileInfo(store).fileName() == ReadingStore::fileName()) {
        QElapsedTimer build;
        build.start();
        readings.ConnectDB();
        readings.waitConsolidated();
        std::fprintf(stderr, "store ready in %.3f s\n", static_cast<double>(build.nsecsElapsed()) / 1e9);
    }
    readings.ADOQuery1.setConnectionString(QFileInfo(store).absoluteFilePath());

    TFormStats form(TFormStatsContext{
        .boxes = boxes,
        .clock = clock,
        .store = [&readings] { return &readings; },
        // Each line titled with its serial, for the dump.
        .NameBySerial = [](const QString &serial) { return serial; },
    });
    TFormLoading loading;
    form.setLoadingWindow(&loading, loading.ProgressBar1);

    QElapsedTimer timer;
    timer.start();
    {
        // The list is read off the window thread: shown is when it holds the serials.
        QEventLoop listed;
        QObject::connect(&form, &TFormStats::sensorsLoaded, &listed, &QEventLoop::quit);
        form.show();
        if (form.sensorsLoading())
            listed.exec();
    }
    QCoreApplication::processEvents();
    const double showSeconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (boxes.failed)
        return 1;

    form.DateFrom->setDate(from);
    form.DateTo->setDate(to);
    form.Detal->setCurrentText(level);

    double firstRow = -1;
    QObject::connect(loading.ProgressBar1, &QProgressBar::valueChanged, &form, [&](int value) {
        if (firstRow < 0 && value > 0)
            firstRow = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    });
    const double before = peakMegabytes();
    timer.restart();
    // The window thread's longest wait between two 10 ms ticks while the chart is built: how
    // long a polling cycle would have been held up.
    QElapsedTimer sinceTick;
    qint64 longestStallMs = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, &form, [&] {
        longestStallMs = std::max(longestStallMs, sinceTick.restart());
    });
    sinceTick.start();
    ticker.start();
    // Waits as the program's own loop waits: the timed processEvents would spin and take a core
    // from the chart's thread.
    QEventLoop wait;
    QObject::connect(&form, &TFormStats::chartDrawn, &wait, &QEventLoop::quit);
    form.SpeedButton4Click();
    if (form.chartRunning())
        wait.exec();
    form.Chart1->repaint();
    QCoreApplication::processEvents();
    ticker.stop();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (boxes.failed)
        return 1;

    qint64 points = 0;
    for (int line = 0; line < form.Chart1->lineCount(); ++line)
        points += form.Chart1->pointCount(line);
    std::printf("points=%lld seconds=%.3f peak_mb=%.1f\n", static_cast<long long>(points), seconds, peakMegabytes());
    std::printf("longest_window_thread_stall_ms=%lld\n", static_cast<long long>(longestStallMs));
    std::printf("show_seconds=%.3f query_seconds=%.3f rows_and_drawing_seconds=%.3f lines=%d peak_mb_before=%.1f\n",
                showSeconds, firstRow, seconds - firstRow, form.Chart1->lineCount(), before);

    if (parser.isSet(shotOption)) {
        // The chart lays its labels out again once its axis has settled: a few rounds.
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        form.grab().save(parser.value(shotOption));
    }
    if (parser.isSet(dumpOption)) {
        QFile file(parser.value(dumpOption));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
        QTextStream out(&file);
        for (int line = 0; line < form.Chart1->lineCount(); ++line) {
            for (int i = 0; i < form.Chart1->pointCount(line); ++i) {
                const auto x = static_cast<qint64>(form.Chart1->keyAt(line, i));
                out << form.Chart1->lineTitle(line) << '\t' << x << '\t'
                    << QString::number(form.Chart1->valueAt(line, i), 'g', 17) << '\n';
            }
        }
    }
    return 0;
}
