#include "sensors/ui/TForm2.h"

#include "base/DialogBoxes.h"
#include "base/ErrorGuard.h"
#include "base/NumberText.h"
#include "sensors/FileChoice.h"
#include "sensors/NumberEntry.h"
#include "sensors/TColorConvert.h"
#include "sensors/ui/ColorBox.h"
#include "sensors/ui/DialogGlyphs.h"
#include "sensors/ui/DialogParts.h"
#include "sensors/ui/SensorSlots.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QToolButton>
#include <QValidator>

using dialogglyphs::Glyph;
using dialogparts::caption;
using dialogparts::field;
using dialogparts::speedButton;

namespace {

constexpr QSize ClientSize(382, 401);
constexpr int BottomBarHeight = 42;
// The bus choice, under the buttons when there is more than one bus.
constexpr int BusRowHeight = 32;
constexpr int BarButton = 34;
constexpr int BarIcon = 28;
constexpr int RowButtonWidth = 24;
constexpr int RowHeight = 22;
constexpr int RowIcon = 16;
// A new sensor's picture appears here; the user drags it into place.
constexpr QPoint NewSensorPlace(450, 450);

// Limits what is typed or pasted to `max` characters, like a length limit, but leaves a longer
// text that the program puts into the field whole (a setMaxLength would cut a stored threshold
// such as "-12,5" and OK would then change it unasked).
class TypedLength final : public QValidator
{
public:
    TypedLength(int max, QObject *parent)
        : QValidator(parent)
        , m_max(max)
    {
    }
    State validate(QString &input, int &) const override { return input.size() > m_max ? Invalid : Acceptable; }

private:
    int m_max;
};

bool insidePopup(QObject *watched)
{
    return watched->isWidgetType() && static_cast<QWidget *>(watched)->window()->windowType() == Qt::Popup;
}

QString numbered(const char *name, int n)
{
    return QString::fromLatin1(name) + QString::number(n);
}

} // namespace

TForm2::TForm2(SensorSlots &sensorSlots, DialogBoxes &boxes, sensorrecords::RandomSource random, QWidget *parent)
    : QDialog(parent)
    , m_slots(sensorSlots)
    , m_boxes(boxes)
    , m_random(std::move(random))
{
    setupUi();

    connect(BOk, &QToolButton::clicked, this, [this] { guarded(m_boxes, [this] { BOkClick(); }); });
    connect(BCancel, &QToolButton::clicked, this, &TForm2::BCancelClick);
    connect(BDelete, &QToolButton::clicked, this, [this] { guarded(m_boxes, [this] { BDeleteClick(); }); });
    for (ColorBox *box : {CBFon, CBText, CBChart})
        connect(box, &QComboBox::currentIndexChanged, this, &TForm2::SetColor);
    for (int n = 1; n <= 4; ++n) {
        const auto i = static_cast<std::size_t>(n - 1);
        connect(Sbm[i], &QToolButton::clicked, this, [this, n] { SbmClick(n); });
        connect(SpeedButton[2 * i], &QToolButton::clicked, this,
                [this, i] { guarded(m_boxes, [this, i] { SelectFolder(Emp3path[i], QStringLiteral("mp3")); }); });
        connect(SpeedButton[2 * i + 1], &QToolButton::clicked, this,
                [this, i] { guarded(m_boxes, [this, i] { SelectFolder(EAppPath[i], QString()); }); });
    }

    // The window sees every key before its fields do.
    installEventFilter(this);
    for (QWidget *child : findChildren<QWidget *>())
        child->installEventFilter(this);

    EditItem(-1);
}

TForm2::~TForm2() = default;

void TForm2::setupUi()
{
    setObjectName(QStringLiteral("Form2"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(ClientSize);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(0, 0, ClientSize.width(), ClientSize.height() - BottomBarHeight);
    PageControl1->setFocusPolicy(Qt::NoFocus);
    TabSheet1 = setupSensorTab();
    TabSheet2 = setupActionsTab();
    PageControl1->addTab(TabSheet1, QStringLiteral("Датчик"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Действия"));

    auto *bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("Panel1"));
    bar->setGeometry(0, ClientSize.height() - BottomBarHeight, ClientSize.width(), BottomBarHeight);
    const int y = (BottomBarHeight - BarButton) / 2;
    BOnOff = speedButton(bar, QStringLiteral("BOnOff"), QRect(8, y, BarButton, BarButton), Glyph::SwitchOff, BarIcon,
                         QStringLiteral("Выключить"), true);
    BDelete = speedButton(bar, QStringLiteral("BDelete"), QRect(48, y, BarButton, BarButton), Glyph::Delete, BarIcon,
                          QStringLiteral("Удалить"), false);
    BTray = speedButton(bar, QStringLiteral("BTray"), QRect(88, y, BarButton, BarButton), Glyph::Tray, BarIcon,
                        QStringLiteral("Показывать в трее"), true);
    BOk = speedButton(bar, QStringLiteral("BOk"), QRect(307, y, BarButton, BarButton), Glyph::Ok, BarIcon,
                      QStringLiteral("Ok"), false);
    BCancel = speedButton(bar, QStringLiteral("BCancel"), QRect(345, y, BarButton, BarButton), Glyph::Cancel, BarIcon,
                          QStringLiteral("Отмена"), false);

    LBus = new QLabel(QStringLiteral("Шина:"), this);
    LBus->setObjectName(QStringLiteral("LBus"));
    LBus->setGeometry(10, ClientSize.height() + 5, 50, RowHeight);
    CBBus = new QComboBox(this);
    CBBus->setObjectName(QStringLiteral("CBBus"));
    CBBus->setGeometry(64, ClientSize.height() + 5, 240, RowHeight);
    LBus->setBuddy(CBBus);
    LBus->hide();
    CBBus->hide();

    // The two comparison pictures live in the bar, never shown.
    imgBol = new QLabel(bar);
    imgBol->setObjectName(QStringLiteral("imgBol"));
    imgBol->setPixmap(dialogglyphs::glyph(Glyph::GreaterEqual, RowIcon));
    imgBol->hide();
    imgMen = new QLabel(bar);
    imgMen->setObjectName(QStringLiteral("imgMen"));
    imgMen->setPixmap(dialogglyphs::glyph(Glyph::LessEqual, RowIcon));
    imgMen->hide();
}

QWidget *TForm2::setupSensorTab()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet1"));

    caption(page, QStringLiteral("Имя:"), 10, 10);
    Edit1 = field(page, QStringLiteral("Edit1"), QRect(10, 27, 240, 21));
    Edit1->setValidator(new TypedLength(30, Edit1));
    caption(page, QStringLiteral("S/N:"), 10, 56);
    Edit2 = field(page, QStringLiteral("Edit2"), QRect(10, 73, 160, 21));
    Edit2->setValidator(new TypedLength(sensorrecords::SerialLength, Edit2));
    QLabel *correction = caption(page, QStringLiteral("Корректировка показаний температуры (+/- ):"), 10, 106);
    Edit3 = field(page, QStringLiteral("Edit3"), QRect(correction->geometry().right() + 8, 102, 41, 21));

    auto *colours = new QGroupBox(QStringLiteral("Цвета"), page);
    colours->setObjectName(QStringLiteral("GroupBox1"));
    colours->setGeometry(10, 136, 352, 112);
    const auto list = [colours](const QString &name, const QString &text, int y) {
        caption(colours, text, 10, y + 4);
        auto *box = new ColorBox(colours);
        box->setObjectName(name);
        box->setGeometry(106, y, 172, 22);
        return box;
    };
    CBChart = list(QStringLiteral("CBChart"), QStringLiteral("График:"), 22);
    CBFon = list(QStringLiteral("CBFon"), QStringLiteral("Фон в трее::"), 50);
    CBText = list(QStringLiteral("CBText"), QStringLiteral("Текст в трее:"), 78);

    // A tray icon in miniature, between the two tray lists.
    LDemo = new QLabel(QStringLiteral("-99"), colours);
    LDemo->setObjectName(QStringLiteral("LDemo"));
    LDemo->setGeometry(292, 67, 16, 16);
    LDemo->setAlignment(Qt::AlignCenter);
    LDemo->setAutoFillBackground(true);
    QFont demoFont = LDemo->font();
    demoFont.setPixelSize(9);
    LDemo->setFont(demoFont);
    return page;
}

QWidget *TForm2::setupActionsTab()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("TabSheet2"));
    static constexpr int tops[] = {0, 81, 163, 245};
    for (int n = 1; n <= 4; ++n) {
        const auto i = static_cast<std::size_t>(n - 1);
        auto *group = new QGroupBox(page);
        group->setObjectName(numbered("GroupBox", n + 1));
        group->setGeometry(3, tops[i], 367, 81);

        const int row1 = 6;
        const int row2 = 30;
        const int row3 = 54;
        SEnable[i] = speedButton(group, numbered("SEnable", n), QRect(6, row1, RowButtonWidth, RowHeight),
                                 Glyph::Control, RowIcon, QStringLiteral("Контроль %1").arg(n), true);
        Sbm[i] = speedButton(group, numbered("Sbm", n), QRect(34, row1, RowButtonWidth, RowHeight), Glyph::GreaterEqual,
                             RowIcon, QString(), false);
        EValue[i] = field(group, numbered("EValue", n), QRect(62, row1, 38, RowHeight));
        EValue[i]->setValidator(new TypedLength(4, EValue[i]));

        Smp3Enable[i] = speedButton(group, numbered("Smp3Enable", n), QRect(6, row2, RowButtonWidth, RowHeight),
                                    Glyph::Track, RowIcon, QStringLiteral("Трек"), true);
        Emp3path[i] = field(group, numbered("Emp3path", n), QRect(34, row2, 279, RowHeight));
        Emp3path[i]->setToolTip(QStringLiteral("Трек"));
        SpeedButton[2 * i] = speedButton(group, numbered("SpeedButton", 2 * n - 1),
                                         QRect(316, row2, RowButtonWidth, RowHeight), Glyph::Browse, RowIcon, QString(),
                                         false);

        SAppEnable[i] = speedButton(group, numbered("SAppEnable", n), QRect(6, row3, RowButtonWidth, RowHeight),
                                    Glyph::Application, RowIcon, QStringLiteral("Запуск приложения"), true);
        EAppPath[i] = field(group, numbered("EAppPath", n), QRect(34, row3, 279, RowHeight));
        EAppPath[i]->setToolTip(QStringLiteral("Приложение"));
        SpeedButton[2 * i + 1] = speedButton(group, numbered("SpeedButton", 2 * n),
                                             QRect(316, row3, RowButtonWidth, RowHeight), Glyph::Browse, RowIcon,
                                             QString(), false);
    }
    return page;
}

void TForm2::setBusNames(const QStringList &names)
{
    CBBus->clear();
    CBBus->addItems(names);
    const bool shown = names.size() > 1;
    LBus->setVisible(shown);
    CBBus->setVisible(shown);
    setFixedSize(ClientSize.width(), ClientSize.height() + (shown ? BusRowHeight : 0));
    CBBus->setCurrentIndex(m_bus >= 1 && m_bus <= names.size() ? m_bus - 1 : -1);
}

void TForm2::EditItem(int Index)
{
    EditIndex = Index;
    m_bus = Index < 0 ? 1 : m_slots.DSItems.at(static_cast<std::size_t>(Index)).Bus;
    CBBus->setCurrentIndex(m_bus >= 1 && m_bus <= CBBus->count() ? m_bus - 1 : -1);
    if (Index < 0) {
        setWindowTitle(QStringLiteral("Новый датчик"));
        Edit1->clear();
        Edit2->clear();
        Edit3->setText(QStringLiteral("0"));
        BOnOff->setChecked(false);
        BTray->setChecked(false);
        CBFon->setSelected(DefaultTrayBackground);
        CBText->setSelected(DefaultTrayText);
        CBChart->setSelected(sensorrecords::randomStandardColor(m_random));
        const TSignArr cleared;
        for (std::size_t i = 0; i < 4; ++i) {
            SEnable[i]->setChecked(false);
            setMode(static_cast<int>(i) + 1, true);
            EValue[i]->setText(QStringLiteral("0"));
            Emp3path[i]->setText(cleared.mp3path);
            EAppPath[i]->clear();
            // Smp3Enable and SAppEnable keep what they showed when the dialog last closed.
        }
    } else {
        setWindowTitle(QStringLiteral("Редактирование датчика"));
        const TDSItem &item = m_slots.DSItems.at(static_cast<std::size_t>(Index));
        Edit1->setText(m_slots.name(Index));
        Edit2->setText(item.SN);
        Edit3->setText(numbertext::general(item.Correct));
        BOnOff->setChecked(!item.Enable);
        BTray->setChecked(item.Tray);
        CBFon->setSelected(item.CBFon);
        CBText->setSelected(item.CBText);
        CBChart->setSelected(item.CBChart);
        for (std::size_t i = 0; i < 4; ++i) {
            const TSignArr &sign = item.Sign[i];
            SEnable[i]->setChecked(sign.Enable);
            EValue[i]->setText(numbertext::general(sign.Value));
            Smp3Enable[i]->setChecked(sign.mp3Enable);
            SAppEnable[i]->setChecked(sign.AppEnable);
            Emp3path[i]->setText(sign.mp3path);
            EAppPath[i]->setText(sign.AppPath);
            setMode(static_cast<int>(i) + 1, sign.bm);
        }
    }
    SetColor();
}

void TForm2::setMode(int n, bool greaterOrEqual)
{
    QToolButton *button = Sbm[static_cast<std::size_t>(n - 1)];
    button->setProperty("tag", greaterOrEqual ? 1 : 0);
    button->setIcon(QIcon((greaterOrEqual ? imgBol : imgMen)->pixmap()));
}

void TForm2::SbmClick(int n)
{
    setMode(n, Sbm[static_cast<std::size_t>(n - 1)]->property("tag").toInt() != 1);
}

void TForm2::SetColor()
{
    QPalette palette = LDemo->palette();
    palette.setColor(QPalette::Window, toQColor(CBFon->selected()));
    palette.setColor(QPalette::WindowText, toQColor(CBText->selected()));
    LDemo->setPalette(palette);
}

TSign TForm2::CreateTSign() const
{
    TSign sign;
    for (std::size_t i = 0; i < 4; ++i) {
        sign[i].Enable = SEnable[i]->isChecked();
        sign[i].bm = Sbm[i]->property("tag").toInt() == 1;
        sign[i].Value = numberentry::StrToFloat(EValue[i]->text());
        sign[i].mp3Enable = Smp3Enable[i]->isChecked();
        sign[i].AppEnable = SAppEnable[i]->isChecked();
        sign[i].mp3path = Emp3path[i]->text();
        sign[i].AppPath = EAppPath[i]->text();
    }
    return sign;
}

SensorEntry TForm2::entry() const
{
    SensorEntry e;
    e.Name = Edit1->text();
    e.SN = Edit2->text();
    e.Enable = !BOnOff->isChecked();
    e.Correct = numberentry::StrToFloat(Edit3->text());
    e.Tray = BTray->isChecked();
    e.CBFon = CBFon->selected();
    e.CBText = CBText->selected();
    e.CBChart = CBChart->selected();
    e.Sign = CreateTSign();
    return e;
}

void TForm2::BOkClick()
{
    // Every number is converted before anything changes: a field that does not convert
    // leaves the sensor exactly as it was and the dialog open.
    const SensorEntry e = entry();
    // A bus the list does not hold (no choice shown) stays the sensor's.
    const int bus = CBBus->currentIndex() >= 0 ? CBBus->currentIndex() + 1 : m_bus;
    int index = EditIndex;
    if (EditIndex < 0) {
        index = m_slots.AddItem(NewSensorPlace.x(), NewSensorPlace.y(), e.Name, e.SN, e.Enable, e.Correct, e.Tray,
                                e.CBFon, e.CBText, e.CBChart, e.Sign);
    } else {
        m_slots.updateItem(EditIndex, e);
    }
    if (m_slots.inUse(index))
        m_slots.DSItems.at(static_cast<std::size_t>(index)).Bus = bus;
    accept();
    emit applied();
}

void TForm2::BCancelClick()
{
    reject();
}

void TForm2::BDeleteClick()
{
    if (EditIndex >= 0) {
        m_slots.DeleteItem(EditIndex);
        if (!m_slots.inUse(EditIndex))
            emit applied();
    }
    reject();
}

void TForm2::SelectFolder(QLineEdit *Edit, const QString &Kind)
{
    const QString filter = Kind == QLatin1String("mp3") ? QStringLiteral("*.wav (*.wav)") : QStringLiteral("*.* (*)");
    const QString file = m_boxes.openFile(QStringLiteral("Выбор"), chooserFolder(Edit->text(), m_programFolder), filter);
    if (!file.isEmpty())
        Edit->setText(file);
}

void TForm2::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The name field has the cursor; on the actions tab (kept from the last opening) the
    // first threshold has it instead, as the name field is out of sight.
    QLineEdit *first = PageControl1->currentWidget() == TabSheet1 ? Edit1 : EValue[0];
    first->setFocus(Qt::OtherFocusReason);
    first->selectAll();
}

QLineEdit *TForm2::numberField(QObject *watched) const
{
    if (watched == Edit3)
        return Edit3;
    for (QLineEdit *value : EValue) {
        if (watched == value)
            return value;
    }
    return nullptr;
}

bool TForm2::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        // A dropped-down colour list takes Enter (choose) and Esc (close) for itself.
        if (insidePopup(watched))
            return QDialog::eventFilter(watched, event);
        if (FormKeyDown(key))
            return true;
        if (QLineEdit *number = numberField(watched))
            return OnlyCifrMinus(number, key);
    } else if (event->type() == QEvent::FocusOut) {
        // Leaving the field, not the window: a box shown over the dialog leaves it as it is.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        QLineEdit *number = numberField(watched);
        if (number && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            OnlyCifrExit(number);
    }
    return QDialog::eventFilter(watched, event);
}

bool TForm2::FormKeyDown(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        BCancelClick();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        guarded(m_boxes, [this] { BOkClick(); });
        return true;
    default:
        return false;
    }
}

bool TForm2::OnlyCifrMinus(QLineEdit *number, QKeyEvent *event)
{
    // Keys that type nothing move the cursor or delete; the filter judges characters only.
    if (dialogparts::typesNoCharacter(event))
        return false;
    const QString text = event->text();
    if (text.size() != 1)
        return true;
    const std::optional<QChar> typed = numberentry::decimalKey(text.at(0), number->text());
    if (!typed)
        return true;
    if (*typed != text.at(0)) {
        number->insert(QString(*typed));
        return true;
    }
    return false;
}

void TForm2::OnlyCifrExit(QLineEdit *number)
{
    number->setText(numberentry::normalisedDecimal(number->text()));
}
