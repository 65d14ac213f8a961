#include "base/Clock.h"
#include "base/Formats.h"
#include "app/ui/TForm1.h"
#include "monitor/SnsGrid.h"
#include "monitor/ui/MonitorCycle.h"
#include "onewire/VirtualBus.h"
#include "owserver/OwServerBus.h"
#include "sensors/ui/BusDialog.h"
#include "sensors/ui/SensorSlots.h"
#include "support/FakeAppLauncher.h"
#include "support/FakeDialogBoxes.h"
#include "support/FakeSoundPlayer.h"
#include "support/RealOwServer.h"

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <memory>

namespace {

const QString Sn28 = QStringLiteral("28000028D7000011");
const QString Sn10 = QStringLiteral("10000010EF01009F");
const QString SnAbsent = QStringLiteral("28A2D984000002EA");

QStringList logMessages(const TForm1 &form)
{
    QStringList lines;
    for (QTextBlock b = form.Memo1->document()->begin(); b.isValid(); b = b.next()) {
        const int cut = b.text().indexOf(QStringLiteral(" : "));
        lines << (cut < 0 ? b.text() : b.text().mid(cut + 3));
    }
    lines.removeAll(QString());
    return lines;
}

// What the readings grid shows for a sensor.
QString shownFor(const TForm1 &form, const QString &serial)
{
    for (int row = 1; row < form.Sns.RowCount(); ++row) {
        if (form.Sns.Cells(2, row) == serial)
            return form.Sns.Cells(1, row);
    }
    return QStringLiteral("(no row)");
}

} // namespace

// The owserver as the window's bus: chosen in the dialog "Шина…", searched, polled by the
// cycle with its checks, through an outage and back, without the serial port.
class TestOwServerBusCycle : public QObject
{
    Q_OBJECT

private:
    SystemClock m_clock;
    FakeDialogBoxes m_boxes;
    FakeSoundPlayer m_sound;
    FakeAppLauncher m_launcher;
    std::unique_ptr<QTemporaryDir> m_dir;
    VirtualBus *m_port = nullptr;

    std::unique_ptr<TForm1> makeForm()
    {
        auto form = std::make_unique<TForm1>(TForm1Context{
            .clock = m_clock,
            .boxes = m_boxes,
            .programDir = ProgramDirectory{m_dir->path() + QLatin1Char('/'), QString(), QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = m_dir->filePath(QStringLiteral("autostart/Kalvex.desktop")),
            .makeSerialPort =
                [this] {
                    auto bus = std::make_unique<VirtualBus>();
                    m_port = bus.get();
                    return bus;
                },
            .demo = false,
            .sound = &m_sound,
            .launcher = &m_launcher,
        });
        form->COMPort = 1;
        return form;
    }

    static void runCycle(TForm1 &form)
    {
        form.Nabl();
        QTRY_VERIFY_WITH_TIMEOUT(form.busIdle(), 20000);
    }

private slots:
    void initTestCase()
    {
        Formats::setCurrent(Formats::russian());
        if (!owtest::RealOwServer::available())
            QSKIP("owserver is not installed (scripts/install-deps.sh installs it)");
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QImage background(8, 8, QImage::Format_RGB32);
        background.fill(Qt::darkGray);
        QVERIFY(background.save(m_dir->filePath(QStringLiteral("bk.jpg"))));
        m_boxes = FakeDialogBoxes();
    }
    void cleanup() { m_dir.reset(); }

    void chosenSearchedAndPolled_data()
    {
        QTest::addColumn<bool>("bulk");
        QTest::newRow("sensor by sensor") << false;
        QTest::newRow("one conversion for all") << true;
    }
    void chosenSearchedAndPolled()
    {
        QFETCH(bool, bulk);
        owtest::RealOwServer server({QStringLiteral("--tester=28,10,05")});
        QVERIFY2(server.start(), qPrintable(server.error()));
        auto form = makeForm();
        form->sensorSlots().AddItem(100, 100, QStringLiteral("Нет такого"), SnAbsent, true, 0, false, DefaultTrayBackground,
                                    DefaultTrayText, 255, CreateClearSign());

        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<BusDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QVERIFY(!dialog->EOwHost->isEnabled());
            dialog->ROwServer->click();
            QVERIFY(dialog->EOwHost->isEnabled());
            dialog->EOwHost->setText(QStringLiteral("127.0.0.1"));
            dialog->SOwPort->setValue(server.port());
            dialog->CBulkConvert->setChecked(bulk);
            dialog->Buttons->button(QDialogButtonBox::Ok)->click();
        });
        form->NBus->trigger();
        QCOMPARE(form->BusKind, QStringLiteral("owserver"));
        QCOMPARE(form->OwBus.Port, server.port());

        // The search adds the server's thermometers, not its switch.
        form->N5->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(form->busIdle(), 20000);
        QCOMPARE(m_boxes.messages, QStringList{QStringLiteral("Найдено датчиков: 2, из них новых: 2")});
        QStringList serials;
        for (const TDSItem &item : form->sensorSlots().DSItems)
            serials << item.SN;
        QCOMPARE(serials, (QStringList{SnAbsent, Sn28, Sn10}));

        form->owServerBus()->setTimeouts(1000, 1000, 3000, 300);
        form->N3->setChecked(true);
        form->N3Click();
        QTRY_VERIFY_WITH_TIMEOUT(form->busIdle(), 20000);
        QVERIFY(!m_port->isOpen());
        QCOMPARE(shownFor(*form, Sn28), QStringLiteral("4"));
        QCOMPARE(shownFor(*form, Sn10), QStringLiteral("1,7"));
        QCOMPARE(shownFor(*form, SnAbsent), sns::Err);

        // Away: said once, the sensors have no reading; back: said once, read again.
        server.stop();
        runCycle(*form);
        runCycle(*form);
        QCOMPARE(shownFor(*form, Sn28), sns::Err);
        const QString down = QStringLiteral("Шина 1: owserver 127.0.0.1:%1 не отвечает: соединение отвергнуто").arg(server.port());
        QCOMPARE(logMessages(*form).count(down), 1);
        QVERIFY2(server.start(), qPrintable(server.error()));
        QTest::qWait(350);
        runCycle(*form);
        runCycle(*form);
        QCOMPARE(shownFor(*form, Sn28), QStringLiteral("4"));
        QCOMPARE(logMessages(*form).count(QStringLiteral("Шина 1: owserver 127.0.0.1:%1 снова отвечает").arg(server.port())), 1);

        // Written and read back.
        form.reset();
        QFile ini(m_dir->filePath(QStringLiteral("Kalvex.ini")));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray text = ini.readAll().replace("\r\n", "\n");
        QVERIFY2(text.endsWith("Kind=owserver\nHost=127.0.0.1\nPort=" + QByteArray::number(server.port()) + '\n'),
                 text.mid(text.indexOf("ItemCount")).constData());
        form = makeForm();
        QCOMPARE(form->BusKind, QStringLiteral("owserver"));
        QCOMPARE(form->OwBus.Host, QStringLiteral("127.0.0.1"));
    }

    // "Сведения…" on an owserver bus: what the server tells, no counterfeit checks.
    void sensorInfo()
    {
        owtest::RealOwServer server({QStringLiteral("--tester=28")});
        QVERIFY2(server.start(), qPrintable(server.error()));
        auto form = makeForm();
        form->BusKind = QStringLiteral("owserver");
        form->OwBus = OwServerBusSettings{QStringLiteral("127.0.0.1"), server.port(), QString()};
        form->sensorSlots().AddItem(100, 100, QStringLiteral("Кухня"), Sn28, true, 0, false, DefaultTrayBackground,
                                    DefaultTrayText, 255, CreateClearSign());
        form->sensorSlots().SelectedItem = 0;
        form->NInfo->trigger();
        QPlainTextEdit *details = nullptr;
        QTRY_VERIFY((details = form->findChild<QPlainTextEdit *>(QStringLiteral("details"))) != nullptr);
        QTRY_VERIFY_WITH_TIMEOUT(details->toPlainText().contains(QStringLiteral("Вывод:")), 10000);
        const QString text = details->toPlainText();
        QVERIFY2(text.contains(QStringLiteral("Семейство: DS18B20")) && text.contains(QStringLiteral("Температура: 4,0000"))
                     && text.contains(QStringLiteral("шина самой программы")),
                 qPrintable(text));
        QVERIFY(!m_port->isOpen());
    }
};

QTEST_MAIN(TestOwServerBusCycle)
#include "tst_owserverbuscycle.moc"
