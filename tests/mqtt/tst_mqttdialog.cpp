#include "MqttTestBroker.h"

#include "app/ui/TForm1.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/ui/MqttDialog.h"
#include "onewire/VirtualBus.h"
#include "support/FakeAppLauncher.h"
#include "support/FakeClock.h"
#include "support/FakeDialogBoxes.h"
#include "support/FakeSoundPlayer.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

// The dialog "MQTT" from the main window's menu: a number it cannot take is refused with a
// box and nothing applied; what it takes is applied at once (the program connects) and kept
// in Kalvex.ini, which a password keeps to its owner.
class TestMqttDialog : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TForm1> makeForm()
    {
        return std::make_unique<TForm1>(TForm1Context{
            .clock = m_clock,
            .boxes = m_boxes,
            .programDir = ProgramDirectory{m_dir.path() + QLatin1Char('/'), QString(), QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = m_dir.filePath(QStringLiteral("autostart/Kalvex.desktop")),
            .makeSerialPort = [] { return std::make_unique<VirtualBus>(); },
            .sound = &m_sound,
            .launcher = &m_launcher,
        });
    }

    QTemporaryDir m_dir;
    FakeClock m_clock;
    FakeDialogBoxes m_boxes;
    FakeSoundPlayer m_sound;
    FakeAppLauncher m_launcher;

private slots:
    void editsAndAppliesAtOnce()
    {
        mqtttest::Broker broker;
        QVERIFY(broker.start());
        std::unique_ptr<TForm1> form = makeForm();
        QVERIFY(form->File1->actions().contains(form->NMqtt));
        QCOMPARE(form->NMqtt->text(), QStringLiteral("MQTT…"));
        QCOMPARE(form->mqttPublisher().connectedState(), -1);

        bool shown = false;
        bool refusedStayedOpen = false;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<MqttDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            shown = true;
            QCOMPARE(dialog->windowTitle(), QStringLiteral("MQTT"));
            QCOMPARE(dialog->EPort->text(), QStringLiteral("1883"));
            QCOMPARE(dialog->EHost->text(), QStringLiteral("localhost"));
            QCOMPARE(dialog->ETopic->text(), MqttSettings::defaultTopic());
            dialog->CActive->click();
            dialog->EHost->setText(QStringLiteral("127.0.0.1"));
            // Letters never reach the port field; a number out of range is refused at OK.
            dialog->EPort->clear();
            QTest::keyClicks(dialog->EPort, QStringLiteral("7x0000"));
            QCOMPARE(dialog->EPort->text(), QStringLiteral("70000"));
            dialog->Buttons->button(QDialogButtonBox::Ok)->click();
            refusedStayedOpen = dialog->isVisible();
            dialog->EPort->setText(QString::number(broker.port()));
            dialog->ETopic->setText(QStringLiteral("kalvex/dacha"));
            dialog->EUser->setText(QStringLiteral("kalvex"));
            dialog->EPassword->setText(QStringLiteral("секрет"));
            dialog->Buttons->button(QDialogButtonBox::Ok)->click();
        });
        form->NMqtt->trigger();
        QVERIFY(shown);
        QVERIFY(refusedStayedOpen);
        QCOMPARE(m_boxes.messages, QStringList{QStringLiteral("Порт брокера должен быть от 1 до 65535.")});
        QVERIFY(form->MQTT.Active);
        QCOMPARE(form->MQTT.Port, broker.port());
        QTRY_COMPARE_WITH_TIMEOUT(form->mqttPublisher().connectedState(), 1, 15000);

        form.reset(); // saves Kalvex.ini
        const QString ini = m_dir.filePath(QStringLiteral("Kalvex.ini"));
        QFile file(ini);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(text.contains("[MQTT]\nActive=1\nHost=127.0.0.1\nPort=" + QByteArray::number(broker.port())), text.constData());
        QCOMPARE(QFile::permissions(ini) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
        form = makeForm();
        QCOMPARE(form->MQTT.Topic, QStringLiteral("kalvex/dacha"));
        QCOMPARE(form->MQTT.Password, QStringLiteral("секрет"));
    }
};

QTEST_MAIN(TestMqttDialog)
#include "tst_mqttdialog.moc"
