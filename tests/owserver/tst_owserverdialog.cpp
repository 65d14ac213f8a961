#include "web/HttpClient.h"

#include "app/ui/OwServerCommand.h"
#include "app/ui/TForm1.h"
#include "onewire/VirtualBus.h"
#include "owserver/OwServer.h"
#include "owserver/ui/OwServerDialog.h"
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

// "Файл → Сервер owserver…": an address that is none is refused with a box and nothing is
// applied; what the dialog takes is served at once and kept in Kalvex.ini for the next start.
class TestOwServerDialog : public QObject
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
    void editsAndServesAtOnce()
    {
        const int port = httpclient::freePort();
        std::unique_ptr<TForm1> form = makeForm();
        QVERIFY(form->File1->actions().contains(form->NOwServer));
        QVERIFY(!form->owServer().server().running());

        bool refusedStayedOpen = false;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<OwServerDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->EPort->text(), QStringLiteral("4304"));
            QCOMPARE(dialog->EAddress->text(), QString());
            dialog->CActive->click();
            dialog->EAddress->setText(QStringLiteral("kalvex.lan"));
            dialog->EPort->setText(QString::number(port));
            dialog->Buttons->button(QDialogButtonBox::Ok)->click();
            refusedStayedOpen = dialog->isVisible();
            dialog->EAddress->setText(QStringLiteral("127.0.0.1"));
            dialog->Buttons->button(QDialogButtonBox::Ok)->click();
        });
        form->NOwServer->trigger();
        QVERIFY(refusedStayedOpen);
        QCOMPARE(m_boxes.messages.size(), 1);
        QVERIFY(m_boxes.messages.front().contains(QStringLiteral("«kalvex.lan»")));
        QVERIFY(form->owServer().server().running());
        QCOMPARE(form->owServer().server().port(), port);

        form.reset(); // saves Kalvex.ini
        QFile file(m_dir.filePath(QStringLiteral("Kalvex.ini")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(text.endsWith("[OwServer]\nActive=1\nPort=" + QByteArray::number(port) + "\nAddress=127.0.0.1\n"),
                 text.constData());
        form = makeForm();
        QVERIFY(form->owServer().server().running());
        QCOMPARE(form->owServer().server().port(), port);
    }
};

QTEST_MAIN(TestOwServerDialog)
#include "tst_owserverdialog.moc"
