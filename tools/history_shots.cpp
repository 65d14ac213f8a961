// Saves pictures of the history window's chart help, the about box and the loading window, to
// look at them as a user would.
//
//   history_shots DIR
#include "dialogs/ui/TFormAbout.h"
#include "dialogs/ui/TFormLoading.h"
#include "history/ui/TForm4.h"

#include <QApplication>
#include <QDir>
#include <QProgressBar>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: history_shots DIR\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    TForm4 help;
    TFormAbout about(QStringLiteral("1.2"));
    TFormLoading loading;
    loading.ProgressBar1->setMaximum(10);
    loading.ProgressBar1->setValue(4);
    bool ok = true;
    for (auto [widget, name] : {std::pair<QWidget *, const char *>{&help, "chart_help.png"},
                                {&about, "about.png"},
                                {&loading, "loading.png"}}) {
        widget->show();
        QApplication::processEvents();
        ok = widget->grab().save(dir.filePath(QString::fromLatin1(name))) && ok;
    }
    return ok ? 0 : 1;
}
