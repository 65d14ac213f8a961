#include "dialogs/ui/TFormAbout.h"

#include "dialogs/AboutContacts.h"
#include "dialogs/ui/DialogPictures.h"

#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>
#include <QToolButton>
#include <QUrl>

namespace {

QLabel *label(QWidget *parent, const QString &text, int left, int top)
{
    auto *l = new QLabel(text, parent);
    l->move(left, top);
    l->adjustSize();
    return l;
}

} // namespace

TFormAbout::TFormAbout(QString versionText, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_version(std::move(versionText))
    , m_open([](const QString &address) { QDesktopServices::openUrl(QUrl(address)); })
{
    setObjectName(QStringLiteral("FormAbout"));
    setFixedSize(241, 228);
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);

    Panel1 = new QFrame(this);
    Panel1->setGeometry(8, 8, 225, 177);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QPalette white = Panel1->palette();
    white.setColor(QPalette::Window, Qt::white);
    Panel1->setPalette(white);
    Panel1->setAutoFillBackground(true);

    Image1 = new QLabel(Panel1);
    Image1->setPixmap(dialogpictures::thermometer());
    Image1->setGeometry(8, 7, 18, 50);

    ProductName = label(Panel1, QStringLiteral("Kalvex"), 40, 8);
    QFont bold = ProductName->font();
    bold.setBold(true);
    ProductName->setFont(bold);
    ProductName->adjustSize();
    Label1 = label(Panel1, QStringLiteral("Version"), 40, 30);
    Version = label(Panel1, m_version, 88, 30);

    static constexpr int tops[] = {49, 68, 87, 106, 124};
    const QList<aboutcontacts::Contact> contacts = aboutcontacts::contacts(m_version);
    for (int i = 0; i < contacts.size() && i < static_cast<int>(std::size(tops)); ++i) {
        const aboutcontacts::Contact &c = contacts.at(i);
        label(Panel1, c.caption, 40, tops[i]);
        QLabel *value = label(Panel1, c.value, 88, tops[i]);
        if (c.link.isEmpty())
            continue;
        QPalette blue = value->palette();
        blue.setColor(QPalette::WindowText, Qt::blue);
        value->setPalette(blue);
        value->setCursor(Qt::PointingHandCursor);
        value->installEventFilter(this);
        if (c.link.startsWith(QLatin1String("mailto:")))
            Label3 = value;
        else
            Label13 = value;
    }

    BOk = new QToolButton(this);
    BOk->setObjectName(QStringLiteral("BOk"));
    BOk->setGeometry(199, 189, 34, 34);
    BOk->setAutoRaise(true);
    BOk->setToolTip(QStringLiteral("Ok"));
    BOk->setIcon(QIcon(dialogpictures::ok()));
    BOk->setIconSize(QSize(32, 32));
    connect(BOk, &QToolButton::clicked, this, &TFormAbout::BOkClick);

    // Key presses reach the box before its controls.
    for (QWidget *child : findChildren<QWidget *>())
        child->installEventFilter(this);
}

void TFormAbout::setOpener(std::function<void(const QString &)> opener)
{
    m_open = std::move(opener);
}

void TFormAbout::showEvent(QShowEvent *event)
{
    FormShow();
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

void TFormAbout::FormShow()
{
    setWindowTitle(QStringLiteral("Kalvex"));
    Version->setText(m_version);
    Version->adjustSize();
}

bool TFormAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        BOkClick();
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (watched == Label3) {
            Label3Click();
            return true;
        }
        if (watched == Label13) {
            Label13Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TFormAbout::BOkClick()
{
    accept();
}

void TFormAbout::Label3Click()
{
    if (m_open)
        m_open(aboutcontacts::mailLink(m_version));
}

void TFormAbout::Label13Click()
{
    if (m_open)
        m_open(aboutcontacts::siteLink());
}
