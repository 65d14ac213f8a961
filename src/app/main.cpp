#include "base/Clock.h"
#include "base/DateTime.h"
#include "app/ui/AppTitle.h"
#include "app/ui/AutoStartEntry.h"
#include "app/ui/Glyphs.h"
#include "app/ui/HistoryCsvRoute.h"
#include "app/ui/HeadlessDialogBoxes.h"
#include "app/ui/ProbeCommand.h"
#include "app/ui/ProgramDirectory.h"
#include "app/ui/QtDialogBoxes.h"
#include "app/ui/QtTranslation.h"
#include "app/ui/ServiceNotifier.h"
#include "app/ui/TForm1.h"
#include "app/ui/TerminationSignals.h"
#include "app/ui/WindowPlacement.h"
#include "history/ReadingStore.h"
#include "onewire/PosixSerialPort.h"
#include "onewire/SerialPort.h"
#include "onewire/VirtualBus.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include <xcb/xcb.h>

#include <unistd.h>

namespace {

// The port under the 1-Wire link: the serial port "COMn" of the program directory, or the
// built-in virtual bus with --demo (its sensors are added by the main window).
std::unique_ptr<SerialPort> makeSerialPort(bool demo, const QString &programDir)
{
    if (demo)
        return std::make_unique<VirtualBus>();
    return std::make_unique<PosixSerialPort>(programDir);
}

// Whether an option is on the command line, known before the application object picks its
// platform.
bool hasOption(int argc, char *argv[], std::initializer_list<const char *> names)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        for (const char *name : names) {
            if (std::strcmp(argv[i], name) == 0)
                return true;
        }
    }
    return false;
}

// Why no window can be opened here (for the line that says so), or empty when one can, or
// when the user chose the window system himself (QT_QPA_PLATFORM, -platform). Asked before
// the application object exists: Qt ends a program that finds no display with an abort.
QString missingDisplay(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || hasOption(argc, argv, {"-platform", "--platform"}))
        return {};
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const QString x = qEnvironmentVariable("DISPLAY");
    if (x.isEmpty())
        return wayland ? QString() : QStringLiteral("DISPLAY и WAYLAND_DISPLAY не заданы");
    // A Wayland session is Qt's to try; an X display is tried here exactly as Qt will.
    if (wayland)
        return {};
    // A server still coming up (a session's autostart, a display manager) gets a second.
    for (int attempt = 0;; ++attempt) {
        int screen = 0;
        xcb_connection_t *connection = xcb_connect(nullptr, &screen);
        const int error = xcb_connection_has_error(connection);
        xcb_disconnect(connection);
        if (error == 0)
            return {};
        if (attempt == 9)
            return QStringLiteral("нет связи с дисплеем %1 (ошибка xcb %2)").arg(x).arg(error);
        ::usleep(100000);
    }
}

// --export-csv FROM TO LEVEL [--dir DIR]: the history's CSV of the program directory's store to
// standard output, with no window, no bus and no server; no file of the folder is written.
int exportCsvCommand(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList values;
    QString dirOption;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--export-csv")) {
            for (int n = 0; n < 3 && i + 1 < args.size() && !args.at(i + 1).startsWith(QLatin1String("--")); ++n)
                values << args.at(++i);
        } else if (args.at(i) == QLatin1String("--dir") && i + 1 < args.size()) {
            dirOption = args.at(++i);
        } else if (args.at(i).startsWith(QLatin1String("--dir="))) {
            dirOption = args.at(i).mid(6);
        } else {
            std::fprintf(stderr, "kalvex: --export-csv: лишний аргумент %s\n", qUtf8Printable(args.at(i)));
            return 2;
        }
    }
    const ProgramDirectory programDir = ProgramDirectory::resolve(QCoreApplication::applicationDirPath(), dirOption);
    if (!programDir.error.isEmpty()) {
        std::fprintf(stderr, "kalvex: %s\n", qUtf8Printable(programDir.error));
        return 2;
    }
    return historycsv::exportCsv(programDir.dir + ReadingStore::fileName(), programDir.dir + QStringLiteral("Kalvex.ini"),
                                 values, stdout, stderr);
}

} // namespace

int main(int argc, char *argv[])
{
    if (hasOption(argc, argv, {"--export-csv"}))
        return exportCsvCommand(argc, argv);

    // First of all, so that a stop request is never lost: it waits for the event loop.
    if (!TerminationSignals::installHandlers())
        std::fputs("kalvex: SIGTERM, SIGINT and SIGHUP cannot be caught; they will end the program without its shutdown\n",
                   stderr);
    // Before anything can start a child process: the service manager's socket is ours alone.
    ServiceNotifier serviceManager;

    bool headless = hasOption(argc, argv, {"--headless"});
    if (!headless && !hasOption(argc, argv, {"--help", "-h", "-?", "--help-all", "--version", "-v", "--probe"})) {
        // A box without a screen (a server, an ssh session) runs the program as a service would.
        if (const QString why = missingDisplay(argc, argv); !why.isEmpty()) {
            headless = true;
            std::fprintf(stderr, "kalvex: %s: окна не будет, программа работает как с --headless\n", qUtf8Printable(why));
        }
    }
    // No screen needed, whatever DISPLAY or WAYLAND_DISPLAY say; nor to print the options.
    const bool noScreen = headless || hasOption(argc, argv, {"--help", "-h", "-?", "--help-all", "--version", "-v", "--probe"});
    // A display that answered the check may be gone by the time Qt connects (a session
    // ending, a busy machine): Qt then falls back to no screen instead of aborting.
    const bool screenMayFail = !noScreen && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !hasOption(argc, argv, {"-platform", "--platform"});
    if (noScreen)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    else if (screenMayFail)
        qputenv("QT_QPA_PLATFORM", "xcb;offscreen");

    QApplication app(argc, argv);
    if (screenMayFail) {
        qunsetenv("QT_QPA_PLATFORM"); // the programs it starts choose for themselves
        if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
            headless = true;
            std::fprintf(stderr, "kalvex: нет связи с дисплеем %s: окна не будет, программа работает как с --headless\n",
                         qgetenv("DISPLAY").constData());
        }
    }
    QCoreApplication::setApplicationName(QStringLiteral("Kalvex"));
    QCoreApplication::setApplicationVersion(apptitle::versionText());
    // Qt's own texts in the user's language, as the program's are.
    installQtTranslation(app);
    // The installed launcher kalvex.desktop: the desktop shows its icon and name for the window.
    QGuiApplication::setDesktopFileName(QStringLiteral("kalvex"));
    QGuiApplication::setWindowIcon(glyphs::applicationIcon());
    // The program ends when its main window closes, not when the last visible window does
    // (the main window may be hidden in the tray while a dialog closes).
    QGuiApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    // In the language of Qt's own headings around them (Russian where Qt's translation is):
    // one language per screen.
    const bool russian = QLocale().language() == QLocale::Russian;
    const auto text = [russian](const char *english, const char *inRussian) {
        return russian ? QString::fromUtf8(inRussian) : QString::fromUtf8(english);
    };
    parser.setApplicationDescription(
        QStringLiteral("Kalvex ") + apptitle::versionText()
        + text(" - house thermometer for 1-Wire sensors on a serial port, the kernel's 1-Wire bus or an owserver.",
               " — домашний термометр для датчиков 1-Wire на последовательном порту, шине 1-Wire ядра или owserver."));
    parser.addHelpOption();
    const QCommandLineOption dirOption(
        QStringLiteral("dir"),
        text("Folder of Kalvex.ini, Kalvex.st and the background picture.",
             "Папка файлов Kalvex.ini, Kalvex.st и фонового рисунка."),
        text("DIR", "ПАПКА"));
    const QCommandLineOption demoOption(
        QStringLiteral("demo"),
        text("Use the built-in virtual bus instead of the serial port.",
             "Встроенная виртуальная шина вместо последовательного порта."));
    const QCommandLineOption headlessOption(
        QStringLiteral("headless"),
        text("Run as a service: no window and no display needed, observation on at start, every log line also to "
             "standard error, boxes logged and answered with their safe choice.",
             "Работа службой: без окна и без дисплея, отслеживание включено с запуска, каждая строка журнала также в "
             "стандартный поток ошибок, вопросы записываются в журнал и получают безопасный ответ."));
    const QCommandLineOption screenshotOption(
        QStringLiteral("screenshot"),
        text("Save a picture of the main window after start-up, then end.",
             "Сохранить снимок главного окна после запуска и завершиться."),
        text("FILE", "ФАЙЛ"));
    // Milliseconds from the start to the picture (long enough for a first cycle, say 4000).
    const QCommandLineOption screenshotDelayOption(
        QStringLiteral("screenshot-delay"),
        text("Milliseconds before the picture is taken (300).", "Миллисекунды до снимка (300)."),
        text("MS", "МС"), QStringLiteral("300"));
    const QCommandLineOption probeOption(
        QStringLiteral("probe"),
        text("Diagnose every device on the bus (power, resolution, conversion time, genuine or clone), one line each, "
             "then end.",
             "Проверить каждое устройство на шине (питание, разрешение, время преобразования, подлинность), по строке "
             "на каждое, и завершиться."));
    // Handled before the application starts (exportCsvCommand); named here for the help.
    const QCommandLineOption exportCsvOption(
        QStringLiteral("export-csv"),
        text("Write the stored readings from day FROM to day TO (YYYY-MM-DD) at LEVEL (second, minute, hour, day, "
             "month or year) as CSV to standard output, then end.",
             "Вывести сохранённые показания с дня ОТ по день ДО (ГГГГ-ММ-ДД) с шагом ШАГ (second, minute, hour, day, "
             "month или year) в CSV в стандартный вывод и завершиться."),
        text("FROM TO LEVEL", "ОТ ДО ШАГ"));
    parser.addVersionOption();
    parser.addOptions({dirOption, demoOption, headlessOption, screenshotOption, screenshotDelayOption, exportCsvOption});
    parser.addOption(probeOption);
    parser.process(app);

    const bool demo = parser.isSet(demoOption);
    const ProgramDirectory programDir = ProgramDirectory::resolve(
        QCoreApplication::applicationDirPath(), parser.value(dirOption), QProcessEnvironment::systemEnvironment(),
        &ProgramDirectory::isWritable, demo && !parser.isSet(probeOption));
    if (!programDir.error.isEmpty()) {
        std::fprintf(stderr, "kalvex: %s\n", qUtf8Printable(programDir.error));
        return 2;
    }
    if (parser.isSet(probeOption))
        return runProbe(programDir.dir);

    // The session starts the program as it runs now: on the same files and the same bus.
    QStringList command{QCoreApplication::applicationFilePath()};
    if (parser.isSet(dirOption))
        command << QStringLiteral("--dir") << QDir::cleanPath(programDir.dir);
    if (demo)
        command << QStringLiteral("--demo");

    SystemClock clock;
    QtDialogBoxes screenBoxes;
    HeadlessDialogBoxes loggedBoxes;
    DialogBoxes &boxes = headless ? static_cast<DialogBoxes &>(loggedBoxes) : screenBoxes;
    // Watching for stop requests starts before the window exists: a box shown while it is
    // created (an unusable store, say) must not hold a service stop until someone clicks it.
    // A stop closes every box as cancelled; the window, once it exists, closes through its
    // normal shutdown, which saves the configuration.
    TerminationSignals stopRequests;
    bool stopRequested = false;
    QPointer<TForm1> window;
    // Into the window's log; while it is being created (or gone), straight to standard error
    // in the log's form.
    loggedBoxes.log = [&clock, &window](const QString &text) {
        if (window)
            window->AddLog(text);
        else
            TForm1::echoLine(datetime::text(clock.now()) + QStringLiteral(" : ") + text);
    };
    QObject::connect(&stopRequests, &TerminationSignals::received, &app, [&] {
        stopRequested = true;
        serviceManager.stopping();
        screenBoxes.closeAll();
        if (window)
            window->close();
    });
    TForm1 form(TForm1Context{
        .clock = clock,
        .boxes = boxes,
        .programDir = programDir,
        .programCommand = command,
        .autostartFile = AutoStartEntry::defaultPath(),
        .makeSerialPort = [demo, dir = programDir.dir] { return makeSerialPort(demo, dir); },
        // Asked on the window thread, also inside long bus waits that run no event loop:
        // the watchdog hears from a program that is slow but alive.
        .stopPending =
            [&serviceManager] {
                serviceManager.keepAlive();
                return TerminationSignals::pending();
            },
        .demo = demo,
        .headless = headless,
    });
    // The window has created the sensor editor and the settings dialog after itself; the
    // history window, the about box, the loading window and the chart help are created here,
    // in that order, once each.

    QObject::connect(&form, &TForm1::closed, &app, &QCoreApplication::quit);
    window = &form;
    if (stopRequested) {
        // Stopped while the window was being created: straight to the shutdown.
        form.close();
        return 0;
    }

    // The manager learns the program is up once the first cycle is on its way (or observation
    // could not come on; the web page serves all the same), and hears from the window thread's
    // event loop while it turns.
    QObject::connect(&form, &TForm1::observationStarted, &app,
                     [&] { serviceManager.ready(QStringLiteral("Отслеживание датчиков включено.")); });
    QObject::connect(&form, &TForm1::startUpEnded, &app,
                     [&] { serviceManager.ready(QStringLiteral("Отслеживание датчиков выключено.")); });
    // A lost adapter shows in `systemctl status` while the program waits for it to come back.
    QObject::connect(&form, &TForm1::portStateChanged, &app, [&](const QString &lostReason) {
        serviceManager.status(lostReason.isEmpty() ? QStringLiteral("Отслеживание датчиков включено.")
                                                   : QStringLiteral("Порт потерян: ") + lostReason);
    });
    QTimer keepAlive;
    if (serviceManager.keepAliveIntervalMs() > 0) {
        QObject::connect(&keepAlive, &QTimer::timeout, &app, [&] { serviceManager.keepAlive(); });
        keepAlive.start(static_cast<int>(std::min<qint64>(serviceManager.keepAliveIntervalMs() / 2 + 1, 1 << 30)));
    }

    if (!headless) {
        windowplacement::placeOnScreen(form);
        form.show();
    }

    int result = 0;
    if (parser.isSet(screenshotOption)) {
        const QString file = parser.value(screenshotOption);
        // By default late enough for Timer2 and the first paint.
        const int delay = std::max(parser.value(screenshotDelayOption).toInt(), 0);
        QTimer::singleShot(delay, &form, [&form, &result, file] {
            if (!form.grab().save(file)) {
                std::fprintf(stderr, "kalvex: cannot write %s\n", qUtf8Printable(file));
                result = 1;
            }
            form.close();
        });
    }
    const int loop = app.exec();
    return result != 0 ? result : loop;
}
