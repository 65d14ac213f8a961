#include "app/ui/QtDialogBoxes.h"
#include "app/ui/QtTranslation.h"
#include "app/ui/TForm1.h"
#include "base/Formats.h"
#include "monitor/SnsGrid.h"
#include "monitor/ui/LiveChart.h"
#include "monitor/ui/SnsGridView.h"
#include "sensors/ui/SensorSlots.h"
#include "sensors/ui/TForm2.h"
#include "sensors/ui/TForm3.h"
#include "web/HttpClient.h"
#include "support/FakeClock.h"
#include "support/FakeDialogBoxes.h"
#include "support/FakeSerialPort.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMenu>
#include <QScopeGuard>
#include <QTranslator>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <memory>

// The commands that open the sensor editor and the settings dialog, and what the dialogs do
// to the running window.
class TestDialogCommands : public QObject
{
    Q_OBJECT

private:
    FakeClock m_clock;
    FakeDialogBoxes m_boxes;
    std::unique_ptr<QTemporaryDir> m_dir;

    std::unique_ptr<TForm1> makeForm()
    {
        return std::make_unique<TForm1>(TForm1Context{
            .clock = m_clock,
            .boxes = m_boxes,
            .programDir = ProgramDirectory{m_dir->path() + QLatin1Char('/'), QString(), QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = m_dir->filePath(QStringLiteral("autostart/Kalvex.desktop")),
            .makeSerialPort = [] { return std::make_unique<FakeSerialPort>(); },
            .demo = false,
        });
    }

    // Runs `command`, which shows a dialog modally, and `inside` on that dialog while it is
    // open; a dialog `inside` leaves open is cancelled. The title the dialog had.
    static QString whileModal(const std::function<void()> &command, const std::function<void(QDialog &)> &inside)
    {
        QString title;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            title = dialog->windowTitle();
            inside(*dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        command();
        return title;
    }

    static void run(TForm1 &form, const QString &command)
    {
        if (auto *button = form.findChild<QToolButton *>(command)) {
            QVERIFY(button->isEnabled());
            QTest::mouseClick(button, Qt::LeftButton);
        } else {
            auto *action = form.findChild<QAction *>(command);
            QVERIFY(action && action->isEnabled());
            action->trigger();
        }
    }

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_boxes = FakeDialogBoxes();
    }

    void dialogsCreatedOnceAfterTheWindow()
    {
        auto form = makeForm();
        // The editor and the settings dialog come first of the windows the main window makes.
        const QList<QDialog *> dialogs = form->findChildren<QDialog *>(Qt::FindDirectChildrenOnly);
        QVERIFY(dialogs.size() >= 2);
        QCOMPARE(dialogs.at(0), &form->form2());
        QCOMPARE(dialogs.at(1), &form->form3());
    }

    void newSensorCommands_data()
    {
        QTest::addColumn<QString>("command");
        for (const char *command : {"N4", "BAdd", "N13"})
            QTest::newRow(command) << QString(command);
    }
    void newSensorCommands()
    {
        QFETCH(QString, command);
        auto form = makeForm();
        const QString title = whileModal([&] { run(*form, command); },
                                         [](QDialog &dialog) {
                                             auto &editor = static_cast<TForm2 &>(dialog);
                                             QTest::keyClicks(editor.Edit1, "Bath");
                                             QTest::keyClick(editor.Edit1, Qt::Key_Return);
                                         });
        QCOMPARE(title, QStringLiteral("Новый датчик"));
        QCOMPARE(form->sensorSlots().name(0), QStringLiteral("Bath"));
        QCOMPARE(form->sensorSlots().DSItems[0].ImageCtl->pos(), QPoint(450, 450));
        QCOMPARE(form->liveChart().lineCount(), 1);
    }

    void editCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("N18") << "N18";
        QTest::newRow("SnsDblClick") << "SnsDblClick";
    }
    void editCommands()
    {
        QFETCH(QString, command);
        auto form = makeForm();
        SensorSlots &sensors = form->sensorSlots();
        sensors.AddItem(10, 10, "a", "SA", true, 0, false, 0, 0, 0, CreateClearSign());
        sensors.AddItem(10, 10, "b", "SB", true, 0, false, 0, 0, 0, CreateClearSign());
        sensors.SelectedItem = 1;
        AddToSns(form->Sns, "b", "SB", "20", "1");
        form->Sns.setRow(1);
        const QString title = whileModal(
            [&] {
                if (command == "SnsDblClick")
                    emit form->snsView().gridDoubleClicked();
                else
                    run(*form, command);
            },
            [](QDialog &dialog) {
                auto &editor = static_cast<TForm2 &>(dialog);
                QCOMPARE(editor.Edit1->text(), QStringLiteral("b"));
                editor.Edit1->setText("c");
                QTest::keyClick(editor.Edit1, Qt::Key_Return);
            });
        QCOMPARE(title, QStringLiteral("Редактирование датчика"));
        QCOMPARE(sensors.name(1), QStringLiteral("c"));
        QCOMPARE(form->Sns.Cells(sns::ColName, 1), QStringLiteral("c"));
    }

    void settingsCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("N2") << "N2";
        QTest::newRow("BSetting") << "BSetting";
    }
    void settingsCommands()
    {
        QFETCH(QString, command);
        auto form = makeForm();
        form->COMPort = 5;
        const QString title = whileModal([&] { run(*form, command); },
                                         [](QDialog &dialog) {
                                             auto &settings = static_cast<TForm3 &>(dialog);
                                             QCOMPARE(settings.EComPort->text(), QStringLiteral("5"));
                                             QTest::keyClick(settings.EComPort, Qt::Key_Escape);
                                         });
        QCOMPARE(title, QStringLiteral("Настройки"));
    }

    // A bare file name (the background "bk.jpg", the built-in sound "warn") is a file in
    // the program's folder: each file box opened from such a field starts there; a field
    // with a folder starts in that folder.
    void fileBoxesStartInTheProgramFolder()
    {
        auto form = makeForm();
        const QString programDir = m_dir->path() + QLatin1Char('/');
        whileModal([&] { run(*form, "N2"); },
                   [](QDialog &dialog) {
                       auto &settings = static_cast<TForm3 &>(dialog);
                       QCOMPARE(settings.EBkFileName->text(), QStringLiteral("bk.jpg"));
                       QTest::mouseClick(settings.SpeedButton2, Qt::LeftButton);
                       settings.EBkFileName->setText(QStringLiteral("/srv/pics/plan.jpg"));
                       QTest::mouseClick(settings.SpeedButton2, Qt::LeftButton);
                   });
        whileModal([&] { run(*form, "N4"); },
                   [](QDialog &dialog) {
                       auto &editor = static_cast<TForm2 &>(dialog);
                       editor.PageControl1->setCurrentIndex(1);
                       QCOMPARE(editor.Emp3path[0]->text(), QStringLiteral("warn"));
                       QTest::mouseClick(editor.SpeedButton[0], Qt::LeftButton); // the sound of control 1
                       QTest::mouseClick(editor.SpeedButton[1], Qt::LeftButton); // its empty application
                   });
        QCOMPARE(m_boxes.fileDirectories, (QStringList{programDir, QStringLiteral("/srv/pics/"), programDir, programDir}));
    }

    // OK with observation on, a new port, a new web server port, an interval, fixed bounds,
    // more divisions and start with the session.
    void settingsApplyToTheWindow()
    {
        // Not a fixed port: another test may hold it meanwhile (the demo's fallback test does
        // hold 8080), and the server would then fail to start.
        const int port = httpclient::freePort();
        const QByteArray portText = QByteArray::number(port);
        auto form = makeForm();
        form->sensorSlots().AddItem(10, 10, "a", "SA", true, 0, false, 0, 0, 0, CreateClearSign());
        form->N3->setChecked(true);
        form->N3Click();
        QTRY_VERIFY(form->busIdle());
        form->HTTP_Active->setChecked(true);
        whileModal([&] { run(*form, "N2"); },
                   [&](QDialog &dialog) {
                       auto &settings = static_cast<TForm3 &>(dialog);
                       for (auto [field, text] : {std::pair{settings.EComPort, "2"}, {settings.EInterval, "3"},
                                                  {settings.EHTTPPort, portText.constData()}, {settings.EChar1MaxY, "30"},
                                                  {settings.EChar1MinY, "-5"}, {settings.EChar1MaxCount, "12"}}) {
                           field->setText(text);
                       }
                       settings.cChar1MinMaxAuto->setChecked(false);
                       settings.CWinStartRun->setChecked(true);
                       QTest::mouseClick(settings.BOk, Qt::LeftButton);
                   });
        QVERIFY(m_boxes.messages.isEmpty());
        QVERIFY(!form->N3->isChecked());
        QVERIFY(form->Memo1->toPlainText().endsWith(QStringLiteral("Отслеживание датчиков выключено.")));
        QCOMPARE(form->COMPort, 2);
        QCOMPARE(form->Timer1->interval(), 3000);
        QCOMPARE(form->HTTPPort, port);
        QVERIFY(form->HTTP_Active->isChecked());
        QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("autostart/Kalvex.desktop"))));
        QCOMPARE(form->CharMaxCount, 12);
        QCOMPARE(form->liveChart().pointCount(form->sensorSlots().DSItems[0].Series), 12);
        QVERIFY(!form->CharMinMaxAuto);
        QCOMPARE(form->liveChart().leftMinimum(), -5.0);
        QCOMPARE(form->liveChart().leftMaximum(), 30.0);
    }

    // OK with a background file that is there but no picture: the error box, the dialog stays
    // open, the steps before the background are in effect and none after it ran.
    void undecodableBackgroundStopsTheSettingsOk()
    {
        QFile garbage(m_dir->filePath(QStringLiteral("план.jpg")));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("not a picture");
        garbage.close();
        auto form = makeForm();
        bool stillOpen = false;
        whileModal([&] { run(*form, "N2"); },
                   [&](QDialog &dialog) {
                       auto &settings = static_cast<TForm3 &>(dialog);
                       settings.EComPort->setText("3");
                       settings.EBkFileName->setText(QStringLiteral("план.jpg"));
                       settings.CWinStartRun->setChecked(true);
                       settings.EChar1MaxCount->setText("12");
                       settings.EHTTPPort->setText("8080");
                       QTest::mouseClick(settings.BOk, Qt::LeftButton);
                       stillOpen = dialog.isVisible();
                   });
        QVERIFY(stillOpen);
        QCOMPARE(m_boxes.errors.size(), 1);
        QVERIFY2(m_boxes.errors.first().startsWith(QStringLiteral("Файл фона ") + garbage.fileName()
                                                    + QStringLiteral(" не читается как рисунок: ")),
                 qPrintable(m_boxes.errors.first()));
        QCOMPARE(form->COMPort, 3);
        QCOMPARE(form->bkFileName, QStringLiteral("план.jpg"));
        QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("autostart/Kalvex.desktop"))));
        QCOMPARE(form->CharMaxCount, 10);
        QCOMPARE(form->HTTPPort, 80);
    }

    // The same file at start-up: a log line, no box, and the start goes on to the store.
    void undecodableBackgroundAtStartUpIsLogged()
    {
        QFile garbage(m_dir->filePath(QStringLiteral("bk.jpg")));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write("not a picture");
        garbage.close();
        auto form = makeForm();
        QVERIFY(m_boxes.errors.isEmpty());
        QVERIFY2(form->Memo1->toPlainText().contains(QStringLiteral("Файл фона ") + garbage.fileName()
                                                      + QStringLiteral(" не читается как рисунок: ")),
                 qPrintable(form->Memo1->toPlainText()));
        QVERIFY(QFile::exists(m_dir->filePath(QStringLiteral("Kalvex.st"))));
    }

    // A background name that is no file (empty: the program directory; a folder) is logged
    // as missing, and OK goes on to its end.
    void backgroundThatIsNoFileIsLoggedAsMissing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "";
        QTest::newRow("folder") << "картинки";
    }
    void backgroundThatIsNoFileIsLoggedAsMissing()
    {
        QFETCH(QString, name);
        if (!name.isEmpty())
            QVERIFY(QDir(m_dir->path()).mkdir(name));
        auto form = makeForm();
        whileModal([&] { run(*form, "N2"); },
                   [&](QDialog &dialog) {
                       auto &settings = static_cast<TForm3 &>(dialog);
                       settings.EBkFileName->setText(name);
                       settings.EChar1MaxCount->setText("12");
                       QTest::mouseClick(settings.BOk, Qt::LeftButton);
                   });
        QVERIFY(m_boxes.errors.isEmpty());
        const QString path = m_dir->path() + QLatin1Char('/') + name;
        QVERIFY2(form->Memo1->toPlainText().endsWith(QStringLiteral("Файл фона ") + path + QStringLiteral(" отсутствует!")),
                 qPrintable(form->Memo1->toPlainText()));
        QCOMPARE(form->CharMaxCount, 12);
    }

    // Qt's own texts follow the user's language: the program's file box, the standard buttons
    // and a text field's context menu; in the C locale they stay as Qt has them.
    void qtTextsInTheUsersLanguage_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("cancel");
        QTest::addColumn<QString>("lookIn");
        QTest::addColumn<QString>("paste");
        QTest::newRow("ru_RU") << "ru_RU" << true << "Отмена" << "Перейти к:" << "В&ставить";
        QTest::newRow("C") << "C" << false << "Cancel" << "Look in:" << "&Paste";
    }
    void qtTextsInTheUsersLanguage()
    {
        QFETCH(QString, locale);
        QFETCH(bool, installed);
        QFETCH(QString, cancel);
        QFETCH(QString, lookIn);
        QFETCH(QString, paste);
        QTranslator *translator = installQtTranslation(*QCoreApplication::instance(), QLocale(locale));
        const auto remove = qScopeGuard([translator] {
            if (translator)
                QCoreApplication::removeTranslator(translator);
            delete translator;
        });
        QCOMPARE(translator != nullptr, installed);

        QString label;
        QStringList buttons;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (auto *look = box->findChild<QLabel *>(QStringLiteral("lookInLabel")))
                label = look->text();
            for (QAbstractButton *b : box->findChild<QDialogButtonBox *>()->buttons())
                buttons << b->text();
            box->reject();
        });
        QtDialogBoxes boxes;
        QVERIFY(boxes.openFile(QStringLiteral("Выбор фона"), m_dir->path(), QStringLiteral("*.jpg, *.bmp (*.jpg *.bmp)"))
                    .isEmpty());
        QCOMPARE(label, lookIn);
        QVERIFY2(buttons.contains(cancel), qPrintable(buttons.join(", ")));

        QLineEdit field;
        std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
        QStringList items;
        for (QAction *a : menu->actions())
            items << a->text().section(QLatin1Char('\t'), 0, 0);
        QVERIFY2(items.contains(paste), qPrintable(items.join(", ")));
    }
};

QTEST_MAIN(TestDialogCommands)
#include "tst_dialogcommands.moc"
