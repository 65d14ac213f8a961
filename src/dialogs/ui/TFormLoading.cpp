#include "dialogs/ui/TFormLoading.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

TFormLoading::TFormLoading(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("FormLoading"));
    setFixedSize(146, 49);

    // Its top edge lies above the window, out of sight.
    GroupBox1 = new QGroupBox(this);
    GroupBox1->setGeometry(0, -5, 145, 54);

    Label1 = new QLabel(QStringLiteral("   L o a d i n g"), GroupBox1);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(16);
    font.setBold(true);
    // Where Tahoma is missing its stand-in is wider: smaller, so that the word stays whole.
    const int room = GroupBox1->width() - 12 - 2;
    while (font.pixelSize() > 10 && QFontMetrics(font).horizontalAdvance(Label1->text()) > room)
        font.setPixelSize(font.pixelSize() - 1);
    Label1->setFont(font);
    Label1->move(12, 12);
    Label1->adjustSize();

    ProgressBar1 = new QProgressBar(GroupBox1);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(4, 35, 137, 16);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->geometry().center());
        move(frame.topLeft());
    }
}
