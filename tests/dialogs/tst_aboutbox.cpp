#include "base/Formats.h"
#include "web/HttpClient.h"
#include "app/ui/TForm1.h"
#include "dialogs/ui/TFormAbout.h"
#include "history/ui/TFormStats.h"
#include "support/FakeClock.h"
#include "support/FakeDialogBoxes.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <functional>
#include <memory>

// The about box and the history window as the main window's commands reach them.
class TestAboutBox : public QObject
{
    Q_OBJECT

private:
    FakeClock m_clock;
    FakeDialogBoxes m_boxes;
    QTemporaryDir m_dir;

    std::unique_ptr<TForm1> makeForm()
    {
        return std::make_unique<TForm1>(TForm1Context{
            .clock = m_clock,
            .boxes = m_boxes,
            .programDir = ProgramDirectory{m_dir.path() + QLatin1Char('/'), QString(), QString()},
            .programCommand = {QStringLiteral("/opt/kalvex/kalvex")},
            .autostartFile = m_dir.filePath(QStringLiteral("autostart/Kalvex.desktop")),
            .makeSerialPort = {},
            .demo = false,
        });
    }

    // Runs `command`, which opens the about box modally, and `inside` while it is open.
    static bool runModal(const std::function<void()> &command, const std::function<void(TFormAbout &)> &inside)
    {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<TFormAbout *>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen = true;
            inside(*box);
            // Whatever the check did, the test never hangs on the box.
            if (box->isVisible())
                box->reject();
        });
        command();
        return seen;
    }

private slots:
    void initTestCase() { Formats::setCurrent(Formats::russian()); }

    void aboutShowsTheCaptionsVersion()
    {
        auto form = makeForm();
        const QString version = QRegularExpression(QStringLiteral(" v(\\S+)")).match(form->windowTitle()).captured(1);
        QCOMPARE(version, QStringLiteral("1.2"));
        QString title;
        QString shown;
        QVERIFY(runModal([&] { form->N7->trigger(); }, [&](TFormAbout &box) {
            title = box.windowTitle();
            shown = box.Version->text();
        }));
        QCOMPARE(title, QStringLiteral("Kalvex"));
        QCOMPARE(shown, version);
    }

    void escAndOkClose_data()
    {
        QTest::addColumn<bool>("esc");
        QTest::newRow("Esc") << true;
        QTest::newRow("Ok") << false;
    }
    void escAndOkClose()
    {
        QFETCH(bool, esc);
        auto form = makeForm();
        bool closed = false;
        QVERIFY(runModal([&] { form->BAbout->click(); }, [&](TFormAbout &box) {
            if (esc)
                QTest::keyClick(box.BOk, Qt::Key_Escape);
            else
                QTest::mouseClick(box.BOk, Qt::LeftButton);
            closed = !box.isVisible();
        }));
        QVERIFY(closed);
    }

    void linksGoToTheOpener()
    {
        TFormAbout box(QStringLiteral("1.2"));
        QStringList opened;
        box.setOpener([&](const QString &address) { opened << address; });
        box.show();
        QTest::mouseClick(box.Label3, Qt::LeftButton);
        QTest::mouseClick(box.Label13, Qt::LeftButton);
        QCOMPARE(opened.size(), 2);
        QVERIFY(opened.at(0).startsWith(QStringLiteral("mailto:")));
        QVERIFY(opened.at(1).startsWith(QStringLiteral("https://")));
    }

    // The project has one address: the about box shows and opens the one the web page
    // links to, and its mail address is at that site.
    void aboutAndPageNameOneAddress()
    {
        const int port = httpclient::freePort();
        QFile ini(m_dir.filePath(QStringLiteral("Kalvex.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[General]\r\nHTTPActive=1\r\nHTTPPort=" + QByteArray::number(port) + "\r\n");
        ini.close();
        // The window saves its settings when it goes: the next test starts without them.
        struct Removed
        {
            QFile &file;
            ~Removed() { file.remove(); }
        } removed{ini};
        auto form = makeForm();
        QStringList opened;
        QString siteShown;
        QString mailShown;
        form->FormAbout->setOpener([&](const QString &address) { opened << address; });
        QVERIFY(runModal([&] { form->N7->trigger(); }, [&](TFormAbout &box) {
            siteShown = box.Label13->text();
            mailShown = box.Label3->text();
            QTest::mouseClick(box.Label13, Qt::LeftButton);
            QTest::mouseClick(box.Label3, Qt::LeftButton);
        }));
        const httpclient::Reply page = httpclient::get(port, "/");
        QCOMPARE(page.status, 200);
        static const QRegularExpression link(QStringLiteral("<a href=\"([^\"]*)\""));
        const QString pageLink = link.match(QString::fromLatin1(page.body)).captured(1);
        QCOMPARE(pageLink, QStringLiteral("https://kalvex.org/"));
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened.at(0), pageLink);
        const QString host = QUrl(pageLink).host();
        QCOMPARE(siteShown, host);
        QCOMPARE(mailShown, QStringLiteral("kalvex@") + host);
        QVERIFY(opened.at(1).startsWith(QStringLiteral("mailto:kalvex@") + host + QLatin1Char('?')));
    }

    // The history command shows its window without holding the main window.
    void historyIsShownNotModal()
    {
        auto form = makeForm();
        form->N9->trigger();
        QVERIFY(form->FormStats->isVisible());
        QVERIFY(!QApplication::activeModalWidget());
        form->FormStats->hide();
        form->BHistory->click();
        QVERIFY(form->FormStats->isVisible());
        QVERIFY(m_boxes.errors.isEmpty());
    }
};

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
