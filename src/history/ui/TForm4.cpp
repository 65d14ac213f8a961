#include "history/ui/TForm4.h"

#include "history/ui/HistoryGlyphs.h"
#include "history/ui/HistoryLook.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QToolButton>

namespace {

QLabel *picture(QWidget *parent, const QPixmap &pixmap, int left, int top)
{
    auto *label = new QLabel(parent);
    label->setPixmap(pixmap);
    label->setGeometry(left, top, pixmap.width(), pixmap.height());
    return label;
}

QLabel *text(QWidget *parent, const QString &caption, int left, int top)
{
    auto *label = new QLabel(caption, parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

} // namespace

TForm4::TForm4(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("Form4"));
    // An empty title would be replaced by the program's name on the way to the window manager:
    // a blank shows nothing there.
    setWindowTitle(QStringLiteral(" "));
    setFixedSize(321, 226);
    move(278, 161);
    historylook::apply(*this);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(8, 8, 305, 177);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QPalette white = Panel1->palette();
    white.setColor(QPalette::Window, Qt::white);
    Panel1->setPalette(white);
    Panel1->setAutoFillBackground(true);

    Label1 = text(Panel1, QStringLiteral("Управление графиком:"), 80, 9);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->adjustSize();

    struct Line
    {
        int top;
        historyglyphs::MouseButton button;
        historyglyphs::Gesture gesture;
        const char16_t *caption;
    };
    static constexpr Line lines[] = {
        {40, historyglyphs::MouseButton::Right, historyglyphs::Gesture::Pan, u"-  перемещение"},
        {80, historyglyphs::MouseButton::Left, historyglyphs::Gesture::ZoomIn, u"-  увеличение выделенного фрагмента"},
        {120, historyglyphs::MouseButton::Left, historyglyphs::Gesture::Reset, u"-  сброс"},
    };
    for (const Line &line : lines) {
        picture(Panel1, historyglyphs::mouse(line.button), 17, line.top);
        text(Panel1, QStringLiteral("+"), 48, line.top + 10);
        picture(Panel1, historyglyphs::gesture(line.gesture), 61, line.top);
        // Two lines where the font is wider than the one the box was laid out for.
        QLabel *caption = text(Panel1, QString::fromUtf16(line.caption), 89, line.top + 10);
        caption->setWordWrap(true);
        caption->setFixedWidth(Panel1->width() - 89 - 4);
        caption->adjustSize();
    }

    BOk = new QToolButton(this);
    BOk->setObjectName(QStringLiteral("BOk"));
    BOk->setGeometry(282, 189, 34, 34);
    BOk->setAutoRaise(true);
    BOk->setToolTip(QStringLiteral("Ok"));
    BOk->setIcon(QIcon(historyglyphs::button(historyglyphs::Button::Ok)));
    BOk->setIconSize(QSize(32, 32));
    connect(BOk, &QToolButton::clicked, this, &TForm4::BOkClick);
}

void TForm4::BOkClick()
{
    accept();
}

void TForm4::keyPressEvent(QKeyEvent *event)
{
    // Only Ok closes the help.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
