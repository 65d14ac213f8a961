#include "sensors/ui/TForm3.h"

#include "base/DialogBoxes.h"
#include "base/ErrorGuard.h"
#include "sensors/FileChoice.h"
#include "sensors/NumberEntry.h"
#include "sensors/ui/DialogParts.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QToolButton>

using dialogglyphs::Glyph;
using dialogparts::caption;
using dialogparts::field;

namespace {

constexpr QSize ClientSize(351, 231);
constexpr int BottomBarHeight = 39;
constexpr int BarButton = 34;

QCheckBox *tickBox(QWidget *parent, const QString &name, const QString &text, int x, int y)
{
    auto *box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->move(x, y);
    box->adjustSize();
    return box;
}

} // namespace

TForm3::TForm3(SettingsTarget &target, DialogBoxes &boxes, QWidget *parent)
    : QDialog(parent)
    , m_target(target)
    , m_boxes(boxes)
{
    setupUi();
    connect(BOk, &QToolButton::clicked, this, [this] { guarded(m_boxes, [this] { BOkClick(); }); });
    connect(BCancel, &QToolButton::clicked, this, &TForm3::BCancelClick);
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { guarded(m_boxes, [this] { SpeedButton2Click(); }); });
    connect(cChar1MinMaxAuto, &QCheckBox::clicked, this, &TForm3::cChar1MinMaxAutoClick);

    // The window sees every key before its fields do.
    installEventFilter(this);
    for (QWidget *child : findChildren<QWidget *>())
        child->installEventFilter(this);
}

TForm3::~TForm3() = default;

void TForm3::setupUi()
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("Настройки"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(ClientSize);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(0, 0, ClientSize.width(), ClientSize.height() - BottomBarHeight);
    PageControl1->setFocusPolicy(Qt::NoFocus);

    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    constexpr int fieldX = 132;
    caption(TabSheet1, QStringLiteral("COM порт:"), 10, 11);
    EComPort = field(TabSheet1, QStringLiteral("EComPort"), QRect(fieldX, 8, 57, 21));
    caption(TabSheet1, QStringLiteral("Интервал опроса:"), 10, 36);
    EInterval = field(TabSheet1, QStringLiteral("EInterval"), QRect(fieldX, 33, 57, 21));
    caption(TabSheet1, QStringLiteral("сек."), fieldX + 63, 36);
    caption(TabSheet1, QStringLiteral("HTTP порт:"), 10, 61);
    EHTTPPort = field(TabSheet1, QStringLiteral("EHTTPPort"), QRect(fieldX, 58, 57, 21));
    caption(TabSheet1, QStringLiteral("Картинка фона:"), 10, 86);
    EBkFileName = field(TabSheet1, QStringLiteral("EBkFileName"), QRect(fieldX, 83, 182, 21));
    SpeedButton2 = dialogparts::speedButton(TabSheet1, QStringLiteral("SpeedButton2"), QRect(fieldX + 185, 83, 21, 21),
                                            Glyph::Browse, 16, QString(), false);
    CAutoNab = tickBox(TabSheet1, QStringLiteral("CAutoNab"), QStringLiteral("Включать наблюдение при запуске"), 10, 110);
    CStartMin = tickBox(TabSheet1, QStringLiteral("CStartMin"), QStringLiteral("Сворачивать при запуске"), 10, 128);
    CWinStartRun = tickBox(TabSheet1, QStringLiteral("CWinStartRun"), QStringLiteral("Запускать при загрузке Windows"),
                           10, 146);

    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    GroupBox1 = new QGroupBox(QStringLiteral("Границы графика:"), TabSheet2);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 6, 200, 104);
    cChar1MinMaxAuto = tickBox(GroupBox1, QStringLiteral("cChar1MinMaxAuto"), QStringLiteral("Авто"), 10, 24);
    LMaxY = caption(GroupBox1, QStringLiteral("Максимум:"), 10, 52);
    EChar1MaxY = field(GroupBox1, QStringLiteral("EChar1MaxY"), QRect(90, 49, 60, 21));
    LMinY = caption(GroupBox1, QStringLiteral("Минимум:"), 10, 77);
    EChar1MinY = field(GroupBox1, QStringLiteral("EChar1MinY"), QRect(90, 74, 60, 21));
    caption(TabSheet2, QStringLiteral("Делений:"), 18, 123);
    EChar1MaxCount = field(TabSheet2, QStringLiteral("EChar1MaxCount"), QRect(98, 120, 60, 21));

    PageControl1->addTab(TabSheet1, QStringLiteral("Основные"));
    PageControl1->addTab(TabSheet2, QStringLiteral("График"));

    auto *bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("Panel1"));
    bar->setGeometry(0, ClientSize.height() - BottomBarHeight, ClientSize.width(), BottomBarHeight);
    const int y = (BottomBarHeight - BarButton) / 2;
    BOk = dialogparts::speedButton(bar, QStringLiteral("BOk"), QRect(276, y, BarButton, BarButton), Glyph::Ok, 28,
                                   QStringLiteral("Ok"), false);
    BCancel = dialogparts::speedButton(bar, QStringLiteral("BCancel"), QRect(314, y, BarButton, BarButton),
                                       Glyph::Cancel, 28, QStringLiteral("Отмена"), false);
}

void TForm3::LoadSettings()
{
    const generalsettings::Entries e = generalsettings::entriesOf(m_target.current());
    EComPort->setText(e.EComPort);
    EInterval->setText(e.EInterval);
    EHTTPPort->setText(e.EHTTPPort);
    EBkFileName->setText(e.EBkFileName);
    CAutoNab->setChecked(e.CAutoNab);
    CStartMin->setChecked(e.CStartMin);
    CWinStartRun->setChecked(e.CWinStartRun);
    cChar1MinMaxAuto->setChecked(e.cChar1MinMaxAuto);
    EChar1MaxY->setText(e.EChar1MaxY);
    EChar1MinY->setText(e.EChar1MinY);
    EChar1MaxCount->setText(e.EChar1MaxCount);
    cChar1MinMaxAutoClick();
}

generalsettings::Entries TForm3::entries() const
{
    generalsettings::Entries e;
    e.EComPort = EComPort->text();
    e.EInterval = EInterval->text();
    e.EHTTPPort = EHTTPPort->text();
    e.EBkFileName = EBkFileName->text();
    e.CAutoNab = CAutoNab->isChecked();
    e.CStartMin = CStartMin->isChecked();
    e.CWinStartRun = CWinStartRun->isChecked();
    e.cChar1MinMaxAuto = cChar1MinMaxAuto->isChecked();
    e.EChar1MaxY = EChar1MaxY->text();
    e.EChar1MinY = EChar1MinY->text();
    e.EChar1MaxCount = EChar1MaxCount->text();
    return e;
}

void TForm3::cChar1MinMaxAutoClick()
{
    const bool fixed = !cChar1MinMaxAuto->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(EChar1MaxY), static_cast<QWidget *>(EChar1MinY),
                       static_cast<QWidget *>(LMaxY), static_cast<QWidget *>(LMinY)})
        w->setEnabled(fixed);
}

void TForm3::SpeedButton2Click()
{
    const QString file = m_boxes.openFile(QStringLiteral("Выбор фона"), chooserFolder(EBkFileName->text(), m_programFolder),
                                          QStringLiteral("*.jpg, *.bmp (*.jpg *.bmp)"));
    if (!file.isEmpty())
        EBkFileName->setText(file);
}

void TForm3::BOkClick()
{
    const generalsettings::Entries e = entries();
    const QString failure = generalsettings::check(e);
    if (!failure.isEmpty()) {
        m_boxes.message(failure);
        return;
    }
    generalsettings::apply(e, m_target);
    accept();
    emit applied();
}

void TForm3::BCancelClick()
{
    reject();
}

void TForm3::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    QLineEdit *first = PageControl1->currentWidget() == TabSheet1 ? EComPort : EChar1MaxCount;
    if (first->isEnabled()) {
        first->setFocus(Qt::OtherFocusReason);
        first->selectAll();
    }
}

bool TForm3::isNumberField(QObject *watched) const
{
    return watched == EComPort || watched == EInterval || watched == EHTTPPort || watched == EChar1MaxCount
           || watched == EChar1MaxY || watched == EChar1MinY;
}

bool TForm3::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (FormKeyDown(key))
            return true;
        if (watched == EChar1MaxY || watched == EChar1MinY)
            return OnlyCifrMinus(static_cast<QLineEdit *>(watched), key);
        if (isNumberField(watched))
            return OnlyCifr(static_cast<QLineEdit *>(watched), key);
    } else if (event->type() == QEvent::FocusOut && isNumberField(watched)) {
        // Leaving the field, not the window: a box shown over the dialog leaves it as it is.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            OnlyCifrExit(static_cast<QLineEdit *>(watched));
    }
    return QDialog::eventFilter(watched, event);
}

bool TForm3::FormKeyDown(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Escape)
        return false;
    BCancelClick();
    return true;
}

bool TForm3::OnlyCifr(QLineEdit *, QKeyEvent *event)
{
    if (dialogparts::typesNoCharacter(event))
        return false;
    const QString text = event->text();
    return text.size() != 1 || !numberentry::digitKey(text.at(0));
}

bool TForm3::OnlyCifrMinus(QLineEdit *number, QKeyEvent *event)
{
    if (dialogparts::typesNoCharacter(event))
        return false;
    const QString text = event->text();
    return text.size() != 1 || !numberentry::signedIntegerKey(text.at(0), number->text());
}

void TForm3::OnlyCifrExit(QLineEdit *number)
{
    number->setText(QString::number(numberentry::StrToIntDef0(number->text())));
}
