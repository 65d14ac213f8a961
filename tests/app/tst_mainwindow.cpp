#include "base/Formats.h"
#include "app/ui/TForm1.h"
#include "history/ui/TFormStats.h"
#include "monitor/ui/StringGridView.h"
#include "sensors/KalvexConfig.h"
#include "support/FakeClock.h"
#include "support/FakeDialogBoxes.h"
#include "support/FakeSerialPort.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QHelpEvent>

#include <cstdlib>
#include <memory>

namespace {

const QString stamp = QStringLiteral("08.12.2026 14:05:09 : ");

QStringList logLines(const TForm1 &form)
{
    QStringList lines;
    for (QTextBlock b = form.Memo1->document()->begin(); b.isValid(); b = b.next())
        lines << b.text();
    if (lines == QStringList{QString()})
        lines.clear();
    return lines;
}

QImage iconImage(const QToolButton *button)
{
    return button->icon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage labelImage(const QLabel *label)
{
    return label->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    FakeClock m_clock;
    FakeDialogBoxes m_boxes;
    std::unique_ptr<QTemporaryDir> m_dir;
    FakeSerialPort *m_port = nullptr;

    QString autostartFile() const { return m_dir->filePath(QStringLiteral("config/autostart/Kalvex.desktop")); }

    std::unique_ptr<TForm1> makeForm(const QString &programDirNote = QString())
    {
        m_port = nullptr;
        return std::make_unique<TForm1>(TForm1Context{
            .clock = m_clock,
            .boxes = m_boxes,
            .programDir = ProgramDirectory{m_dir->path() + QLatin1Char('/'), programDirNote, QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = autostartFile(),
            .makeSerialPort =
                [this] {
                    auto port = std::make_unique<FakeSerialPort>();
                    m_port = port.get();
                    return port;
                },
            .demo = false,
        });
    }

    void writeIni(const QByteArray &text)
    {
        QFile ini(m_dir->filePath(QStringLiteral("Kalvex.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(text);
    }

    void verifyObservation(const TForm1 &form, bool on)
    {
        QCOMPARE(form.N3->isChecked(), on);
        QCOMPARE(form.BScan->isChecked(), on);
        QCOMPARE(form.Timer1->isActive(), on);
        QCOMPARE(iconImage(form.BScan), labelImage(on ? form.ImgStop : form.ImgStart));
    }

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        // The program directory as installed, with its background picture: start-up logs nothing.
        QImage background(8, 8, QImage::Format_RGB32);
        background.fill(Qt::darkGray);
        QVERIFY(background.save(m_dir->filePath(QStringLiteral("bk.jpg"))));
        m_boxes = FakeDialogBoxes();
        m_clock.setNow(QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9)));
    }

    void startUp()
    {
        auto form = makeForm(QStringLiteral("Папка программы закрыта для записи"));
        QCOMPARE(form->windowTitle(), QStringLiteral("Kalvex v1.2 DS18x20"));
        QCOMPARE(form->ProgramDir, m_dir->path() + QLatin1Char('/'));
        QCOMPARE(logLines(*form), QStringList{stamp + QStringLiteral("Папка программы закрыта для записи")});
        QCOMPARE(form->Sns.snapshot().value(0),
                 (QStringList{QStringLiteral(" Имя"), QStringLiteral(" t°"), QStringLiteral(" Серийный номер")}));
        const QStringList hours = form->SHour.snapshot().value(0);
        QCOMPARE(hours.size(), 26);
        QCOMPARE(hours.first(), QStringLiteral(" Имя"));
        QCOMPARE(hours.at(1), QStringLiteral(" 0 ч."));
        QCOMPARE(hours.at(11), QStringLiteral(" 10 ч."));
        QCOMPARE(hours.at(24), QStringLiteral(" 23 ч."));
        QCOMPARE(hours.at(25), QStringLiteral(" Серийный номер"));
        // Observation stays off and the port closed until Timer2 or the user switches it on.
        QVERIFY(m_port->opened.isEmpty());
        verifyObservation(*form, false);
        QCOMPARE(form->Timer1->interval(), 10000);
        QCOMPARE(form->Timer1->timerType(), Qt::PreciseTimer);
        QVERIFY(m_boxes.errors.isEmpty());
    }

    void switchOn_data()
    {
        QTest::addColumn<int>("comPort");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("port free") << 1 << true << QString()
                                   << QStringList{stamp + QStringLiteral("Отслеживание датчиков включено.")};
        QTest::newRow("port busy, with the system's reason")
            << 3 << false << QStringLiteral("Устройство или ресурс занято")
            << QStringList{stamp + QStringLiteral("Порт: COM3 занят: Устройство или ресурс занято")};
        QTest::newRow("port missing, no reason") << 12 << false << QString()
                                                 << QStringList{stamp + QStringLiteral("Порт: COM12 занят.")};
    }
    void switchOn()
    {
        QFETCH(int, comPort);
        QFETCH(bool, opens);
        QFETCH(QString, reason);
        QFETCH(QStringList, lines);
        auto form = makeForm();
        form->COMPort = comPort;
        m_port->openSucceeds = opens;
        m_port->openError = reason;

        form->N3->trigger();

        QCOMPARE(logLines(*form), lines);
        QCOMPARE(m_port->opened, QStringList{QStringLiteral("COM%1").arg(comPort)});
        QCOMPARE(m_port->timeoutCalls, opens ? 1 : 0);
        verifyObservation(*form, opens);
    }

    void switchOffClosesThePort()
    {
        auto form = makeForm();
        form->N3->trigger();
        form->N3->trigger();
        QCOMPARE(logLines(*form), (QStringList{stamp + QStringLiteral("Отслеживание датчиков включено."),
                                               stamp + QStringLiteral("Отслеживание датчиков выключено.")}));
        QCOMPARE(m_port->closeCalls, 1);
        QVERIFY(!m_port->isOpen());
        verifyObservation(*form, false);
    }

    void scanButtonTwice()
    {
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QTest::mouseClick(form->BScan, Qt::LeftButton);
        verifyObservation(*form, true);
        QTest::mouseClick(form->BScan, Qt::LeftButton);
        verifyObservation(*form, false);
        QCOMPARE(logLines(*form), (QStringList{stamp + QStringLiteral("Отслеживание датчиков включено."),
                                               stamp + QStringLiteral("Отслеживание датчиков выключено.")}));
        QCOMPARE(m_port->closeCalls, 1);
    }

    void scanButtonWithBusyPortIsReleased()
    {
        auto form = makeForm();
        m_port->openSucceeds = false;
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QTest::mouseClick(form->BScan, Qt::LeftButton);
        verifyObservation(*form, false);
        QCOMPARE(logLines(*form), QStringList{stamp + QStringLiteral("Порт: COM1 занят.")});
    }

    void switchingOnAgainKeepsThePollInterval()
    {
        // Only a change of the check mark starts Timer1 anew.
        auto form = makeForm();
        form->N3->trigger();
        QVERIFY(form->Timer1->isActive());
        const int before = form->Timer1->remainingTime();
        QTest::qWait(30);
        form->SetScanButton();
        QVERIFY(form->Timer1->remainingTime() < before);
    }

    void autoNab_data()
    {
        QTest::addColumn<bool>("autoNab");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("port free") << true << true
                                   << QStringList{stamp + QStringLiteral("Отслеживание датчиков включено.")};
        QTest::newRow("port busy") << true << false << QStringList{stamp + QStringLiteral("Порт: COM1 занят.")};
        QTest::newRow("not asked") << false << true << QStringList();
    }
    void autoNab()
    {
        QFETCH(bool, autoNab);
        QFETCH(bool, opens);
        QFETCH(QStringList, lines);
        auto form = makeForm();
        // As the configuration would have set it during creation; Timer2 waits for the loop.
        form->AutoNab = autoNab;
        m_port->openSucceeds = opens;
        QVERIFY(form->Timer2->isActive());
        QVERIFY(logLines(*form).isEmpty());

        QTRY_VERIFY(!form->Timer2->isActive());
        QCOMPARE(logLines(*form), lines);
        QCOMPARE(m_port->opened.size(), autoNab ? 1 : 0);
        verifyObservation(*form, autoNab && opens);
        // It fires once only.
        QTest::qWait(20);
        QCOMPARE(m_port->opened.size(), autoNab ? 1 : 0);
    }

    void clearLog()
    {
        auto form = makeForm();
        QCOMPARE(form->PopupMenu3->actions(), QList<QAction *>{form->N15});
        QCOMPARE(form->N15->text(), QStringLiteral("Очистить"));
        form->AddLog(QStringLiteral("первая"));
        form->addRawLine(QStringLiteral("s/n : 28A2D98400000200"));
        form->N15->trigger();
        QVERIFY(form->Memo1->toPlainText().isEmpty());
        m_clock.advance(1000);
        form->AddLog(QStringLiteral("после очистки"));
        QCOMPARE(form->Memo1->toPlainText(), QStringLiteral("08.12.2026 14:05:10 : после очистки"));
    }

    void rawLinesHaveNoStamp()
    {
        auto form = makeForm();
        form->addRawLine(QStringLiteral("s/n : 28A2D98400000200"));
        form->AddLog(QStringLiteral("Датчик не отвечает: 28A2D98400000200"));
        QCOMPARE(logLines(*form), (QStringList{QStringLiteral("s/n : 28A2D98400000200"),
                                               stamp + QStringLiteral("Датчик не отвечает: 28A2D98400000200")}));
    }

    // A line that repeats the one before is written once, then how often it came again: when
    // another line comes, and every ten minutes while the run lasts.
    void repeatedLinesFolded()
    {
        auto form = makeForm();
        const QString failure = QStringLiteral("Датчик не отвечает: 28A2D98400000200");
        for (int i = 0; i < 3; ++i) {
            form->AddLog(failure);
            m_clock.advance(1000);
        }
        form->addRawLine(failure); // the same text as a raw line is another line
        form->addRawLine(failure);
        m_clock.advance(1000);
        form->AddLog(QStringLiteral("Отслеживание датчиков выключено."));
        QCOMPARE(logLines(*form),
                 (QStringList{stamp + failure,
                              QStringLiteral("08.12.2026 14:05:11 : Сообщение повторилось ещё 2 раза."),
                              failure,
                              QStringLiteral("08.12.2026 14:05:12 : Сообщение повторилось ещё 1 раз."),
                              QStringLiteral("08.12.2026 14:05:13 : Отслеживание датчиков выключено.")}));

        form->N15->trigger();
        for (int i = 0; i < 65; ++i) {
            form->AddLog(failure);
            m_clock.advance(10000);
        }
        const QStringList lines = logLines(*form);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(1).endsWith(QStringLiteral(" : Сообщение повторилось ещё 60 раз.")), qPrintable(lines.at(1)));
    }

    void logKeepsTheNewestLines()
    {
        auto form = makeForm();
        const int total = TForm1::maxLogLines + 5;
        for (int i = 0; i < total; ++i)
            form->addRawLine(QString::number(i));
        const QStringList lines = logLines(*form);
        QCOMPARE(lines.size(), TForm1::maxLogLines);
        QCOMPARE(lines.first(), QStringLiteral("5"));
        QCOMPARE(lines.last(), QString::number(total - 1));
    }

    void shutdownMaintainsTheAutostartEntry_data()
    {
        QTest::addColumn<bool>("winStartRun");
        QTest::addColumn<bool>("entryBefore");
        QTest::newRow("start with the session") << true << false;
        QTest::newRow("entry rewritten") << true << true;
        QTest::newRow("entry removed") << false << true;
        QTest::newRow("no entry, nothing to remove") << false << false;
    }
    void shutdownMaintainsTheAutostartEntry()
    {
        QFETCH(bool, winStartRun);
        QFETCH(bool, entryBefore);
        if (entryBefore) {
            QVERIFY(QDir().mkpath(QFileInfo(autostartFile()).path()));
            QFile old(autostartFile());
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("[Desktop Entry]\nExec=/old/kalvex\n");
        }
        auto form = makeForm();
        form->WinStartRun = winStartRun;
        form.reset();

        QFile entry(autostartFile());
        QCOMPARE(entry.exists(), winStartRun);
        if (winStartRun) {
            QVERIFY(entry.open(QIODevice::ReadOnly));
            QVERIFY(entry.readAll().contains("\nExec=\"/opt/kalvex/kalvex\"\n"));
        }
        QVERIFY(m_boxes.errors.isEmpty());
    }

    void autostartFailureIsLogged()
    {
        // A file where the folder should be: even root cannot create the entry.
        QFile blocker(m_dir->filePath(QStringLiteral("config")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        auto form = makeForm();
        form->WinStartRun = true;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Автозапуск")));
        form->SetAutoStart();
        const QStringList lines = logLines(*form);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(stamp + QStringLiteral("Автозапуск: не удалось")), qPrintable(lines.first()));
        QVERIFY(lines.first().contains(m_dir->filePath(QStringLiteral("config/autostart"))));
        // The shutdown goes on past the failed step without a box.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Автозапуск")));
        form.reset();
        QVERIFY(m_boxes.errors.isEmpty());
    }

    void exitClosesTheWindow_data()
    {
        QTest::addColumn<bool>("fromToolBar");
        QTest::newRow("N1") << false;
        QTest::newRow("BExit") << true;
    }
    void exitClosesTheWindow()
    {
        QFETCH(bool, fromToolBar);
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QSignalSpy closed(form.get(), &TForm1::closed);
        if (fromToolBar)
            QTest::mouseClick(form->BExit, Qt::LeftButton);
        else
            form->N1->trigger();
        QCOMPARE(closed.size(), 1);
        QVERIFY(!form->isVisible());
    }

    void commands_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QKeySequence>("shortcut");
        QTest::addColumn<bool>("checkable");
        const auto row = [](const char *name, const char *text, QKeySequence key = {}, bool check = false) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromUtf8(text) << key << check;
        };
        row("N2", "Настройки", QKeySequence(Qt::Key_F10));
        row("N5", "Поиск");
        row("N4", "Добавить датчик", QKeySequence(Qt::Key_Insert));
        row("N1", "Выход");
        row("N3", "Наблюдение", QKeySequence(Qt::Key_F2), true);
        row("HTTP_Active", "HTTP-сервер", {}, true);
        row("N9", "История", QKeySequence(Qt::Key_F3));
        row("N7", "О программе", QKeySequence(Qt::Key_F1));
        row("N10", "Главное меню", {}, true);
        row("N13", "Добавить датчик");
        row("N14", "Поиск датчиков");
        row("N15", "Очистить");
        row("NImgOn", "Включить");
        row("NImgOff", "Выключить");
        row("N18", "Редактировать");
        row("N16", "Удалить");
    }
    void commands()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QKeySequence, shortcut);
        QFETCH(bool, checkable);
        auto form = makeForm();
        auto *action = form->findChild<QAction *>(name);
        QVERIFY(action);
        QCOMPARE(action->text(), text);
        QCOMPARE(action->shortcut(), shortcut);
        QCOMPARE(action->isCheckable(), checkable);
    }

    void hiddenMenuBarKeepsShortcuts()
    {
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        // Without a configuration the menu bar starts hidden.
        QVERIFY(!form->N10->isChecked());
        QVERIFY(!form->menuBar()->isVisible());
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QTest::keyClick(form.get(), Qt::Key_F2);
        verifyObservation(*form, true);
        form->N10->trigger();
        QVERIFY(form->N10->isChecked());
        QVERIFY(form->menuBar()->isVisible());
        form->N10->trigger();
        QVERIFY(!form->menuBar()->isVisible());
    }

    void menuBarBackFromToolBarPopup()
    {
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QVERIFY(!form->menuBar()->isVisible());
        // A right click on the tool bar, between two buttons.
        const QPoint at(88, 20);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, form->Panel1->mapToGlobal(at));
        QCoreApplication::sendEvent(form->Panel1, &event);
        QTRY_VERIFY(form->PopupMenu1->isVisible());
        QTest::keyClick(form->PopupMenu1, Qt::Key_Down);
        QTest::keyClick(form->PopupMenu1, Qt::Key_Return);
        QVERIFY(form->N10->isChecked());
        QTRY_VERIFY(form->menuBar()->isVisible());
        for (QMenu *top : {form->File1, form->N8, form->N12})
            QVERIFY(top->menuAction()->isVisible());
    }

    void widerColumnWidensTheSerialColumn()
    {
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        StringGridView &grid = form->snsView();
        const int before = grid.columnWidth(2);
        QSplitterHandle *handle = form->Splitter3->handle(1);
        const QPoint grip(handle->width() / 2, 300);
        QTest::mousePress(handle, Qt::LeftButton, {}, grip);
        QTest::mouseMove(handle, grip + QPoint(50, 0));
        QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(50, 0));
        // The handle's grip point may shift the drop by a pixel.
        const int widened = form->Panel3->width() - 400;
        QVERIFY2(std::abs(widened - 50) <= 1, qPrintable(QString::number(widened)));
        QCOMPARE(grid.columnWidth(2), before + widened);
        QCOMPARE(grid.columnWidth(0) + grid.columnWidth(1) + grid.columnWidth(2),
                 form->Panel3->width() - (grid.width() - grid.viewport()->width()));
    }

    void narrowColumnIsSavedAsSet()
    {
        writeIni("[General]\nP3Width=333\n");
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QCOMPARE(form->Panel3->width(), 333);
        form.reset();
        QCOMPARE(loadConfig(m_dir->filePath(QStringLiteral("Kalvex.ini"))).P3Width, 333);
    }

    // Each key and tool button, and where it leads: the modal window it opens, the history
    // window, or observation switched on.
    void commandsReachTheirHandlers_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("reaches");
        QTest::newRow("F10") << QString() << int(Qt::Key_F10) << "TForm3";
        QTest::newRow("BSetting") << "BSetting" << 0 << "TForm3";
        QTest::newRow("Insert") << QString() << int(Qt::Key_Insert) << "TForm2";
        QTest::newRow("BAdd") << "BAdd" << 0 << "TForm2";
        QTest::newRow("F1") << QString() << int(Qt::Key_F1) << "TFormAbout";
        QTest::newRow("BAbout") << "BAbout" << 0 << "TFormAbout";
        QTest::newRow("F3") << QString() << int(Qt::Key_F3) << "TFormStats";
        QTest::newRow("BHistory") << "BHistory" << 0 << "TFormStats";
        QTest::newRow("Chart1 double-click") << "Chart1" << 0 << "TFormStats";
        QTest::newRow("F2") << QString() << int(Qt::Key_F2) << "observation";
        QTest::newRow("BScan") << "BScan" << 0 << "observation";
        QTest::newRow("BSearch") << "BSearch" << 0 << "search";
    }
    void commandsReachTheirHandlers()
    {
        QFETCH(QString, button);
        QFETCH(int, key);
        QFETCH(QString, reaches);
        auto form = makeForm();
        form->show();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QString modal;
        QTimer::singleShot(0, [&modal] {
            if (QWidget *dialog = QApplication::activeModalWidget()) {
                modal = QString::fromLatin1(dialog->metaObject()->className());
                dialog->close();
            }
        });
        if (button == QLatin1String("Chart1")) {
            QWidget *plot = form->Chart1->childAt(form->Chart1->rect().center());
            QVERIFY(plot);
            QTest::mouseDClick(plot, Qt::LeftButton, {}, plot->rect().center());
        } else if (!button.isEmpty()) {
            auto *tool = form->findChild<QToolButton *>(button);
            QVERIFY(tool && tool->isEnabled());
            QTest::mouseClick(tool, Qt::LeftButton);
        } else {
            QTest::keyClick(form.get(), Qt::Key(key));
        }
        if (reaches == QLatin1String("TFormStats"))
            QTRY_VERIFY(form->FormStats->isVisible());
        else if (reaches == QLatin1String("observation"))
            verifyObservation(*form, true);
        else if (reaches == QLatin1String("search"))
            QVERIFY(!m_boxes.messages.isEmpty());
        else
            QCOMPARE(modal, reaches);
    }

    void hiddenSerialButton_data()
    {
        QTest::addColumn<bool>("portOpens");
        QTest::newRow("port free") << true;
        QTest::newRow("port busy") << false;
    }
    void hiddenSerialButton()
    {
        QFETCH(bool, portOpens);
        auto form = makeForm();
        m_port->openSucceeds = portOpens;
        const int lines = logLines(*form).size();
        form->Button1->click();
        const QStringList after = logLines(*form);
        // One unstamped line, the port closed again; nothing at all when it would not open.
        QCOMPARE(after.size(), lines + (portOpens ? 1 : 0));
        if (portOpens)
            QVERIFY(after.last().startsWith(QStringLiteral("s/n : ")));
        QCOMPARE(m_port->isOpen(), false);
        QCOMPARE(form->N3->isChecked(), false);
    }

    // Every hint of the window shows where the mouse rests on its widget.
    void hints_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("hint");
        QTest::newRow("SHour") << "SHour" << "Средняя почасовая температура за сутки";
        QTest::newRow("Memo1") << "Memo1" << "Лог";
        QTest::newRow("BScan") << "BScan" << "Вкл/Выкл опрос датчиков";
        QTest::newRow("bHTTP") << "bHTTP" << "Вкл/Выкл Web Server";
        QTest::newRow("BHistory") << "BHistory" << "История";
        QTest::newRow("BSetting") << "BSetting" << "Настройки";
        QTest::newRow("BAdd") << "BAdd" << "Добавить датчик";
        QTest::newRow("BSearch") << "BSearch" << "Поиск датчиков";
        QTest::newRow("BAbout") << "BAbout" << "О программе";
        QTest::newRow("BExit") << "BExit" << "Выход";
    }
    void hints()
    {
        QFETCH(QString, name);
        QFETCH(QString, hint);
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QList<QWidget *> found = form->findChildren<QWidget *>(name);
        QCOMPARE(found.size(), 1);
        QWidget *widget = found.first();
        // Where the mouse rests: the middle of a button, of a grid's or a text's page.
        const QPoint inside(widget->width() / 2, widget->height() / 2);
        QWidget *under = widget->childAt(inside);
        if (!under)
            under = widget;
        const QPoint at = under->mapFrom(widget, inside);
        QHelpEvent rest(QEvent::ToolTip, at, under->mapToGlobal(at));
        QApplication::sendEvent(under, &rest);
        QTRY_COMPARE(QToolTip::text(), hint);
        QToolTip::hideText();
    }

    void leftColumnLayout()
    {
        auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QCOMPARE(form->panel3Width(), 400);
        QCOMPARE(form->snsHeight(), 200);
        QCOMPARE(form->sHourHeight(), 200);
        QCOMPARE(form->logHeight(), 150);
        QCOMPARE(form->Panel1->height(), 40);
        QCOMPARE(form->Splitter4->objectName(), QStringLiteral("Splitter4"));
        // A picture of the window with observation on, to look at.
        form->N3->trigger();
        form->grab().save(QCoreApplication::applicationDirPath() + QStringLiteral("/tst_mainwindow.png"));
        // Growing the window grows the chart only.
        const int chart = form->Chart1->height();
        form->resize(form->width(), form->height() + 100);
        QTRY_COMPARE(form->Chart1->height(), chart + 100);
        QCOMPARE(form->snsHeight(), 200);
        QCOMPARE(form->logHeight(), 150);

        // A plugged-in widget takes the place, its name and its share of the height.
        auto *chart1 = new QWidget;
        QWidget *old = form->Chart1;
        QPointer<QWidget> oldPointer(old);
        form->plugIn(form->Chart1, chart1);
        QCOMPARE(form->Chart1, chart1);
        QVERIFY(oldPointer.isNull());
        QCOMPARE(chart1->objectName(), QStringLiteral("Chart1"));
        QCOMPARE(form->leftColumn->indexOf(chart1), 2);
        form->resize(form->width(), form->height() - 50);
        QTRY_COMPARE(form->Chart1->height(), chart + 50);
        QCOMPARE(form->snsHeight(), 200);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
