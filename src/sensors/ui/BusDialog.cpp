#include "sensors/ui/BusDialog.h"

#include "base/DialogBoxes.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int MaxComPort = 999;

QString kindText(const QString &kind)
{
    if (kind == QLatin1String("kernel"))
        return QStringLiteral("Драйвер ядра");
    if (kind == QLatin1String("owserver"))
        return QStringLiteral("Сервер owserver");
    if (kind == QLatin1String("ds2480b"))
        return QStringLiteral("Адаптер DS2480B");
    return QStringLiteral("Последовательный порт");
}

QString placeText(const BusConfig &bus)
{
    if (bus.Kind == QLatin1String("kernel"))
        return bus.KernelPath;
    if (bus.Kind == QLatin1String("owserver"))
        return bus.OwServer.Host + QLatin1Char(':') + QString::number(bus.OwServer.Port) + bus.OwServer.Path;
    return QStringLiteral("COM") + QString::number(bus.COMPort);
}

} // namespace

BusDialog::BusDialog(DialogBoxes &boxes, QWidget *parent)
    : QDialog(parent)
    , m_boxes(boxes)
{
    setObjectName(QStringLiteral("BusDialog"));
    setWindowTitle(QStringLiteral("Шина"));

    TBuses = new QTableWidget(0, 4, this);
    TBuses->setObjectName(QStringLiteral("TBuses"));
    TBuses->setHorizontalHeaderLabels({QStringLiteral("№"), QStringLiteral("Имя"), QStringLiteral("Вид"), QStringLiteral("Где")});
    TBuses->verticalHeader()->hide();
    TBuses->horizontalHeader()->setStretchLastSection(true);
    // The number narrow, the kind whole ("Последовательный порт" on one line).
    TBuses->setColumnWidth(0, 32);
    TBuses->setColumnWidth(1, 120);
    TBuses->setColumnWidth(2, 230);
    TBuses->setWordWrap(false);
    TBuses->setSelectionBehavior(QAbstractItemView::SelectRows);
    TBuses->setSelectionMode(QAbstractItemView::SingleSelection);
    TBuses->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TBuses->setMinimumHeight(120);
    BAdd = new QPushButton(QStringLiteral("Добавить"), this);
    BAdd->setObjectName(QStringLiteral("BAdd"));
    BRemove = new QPushButton(QStringLiteral("Удалить"), this);
    BRemove->setObjectName(QStringLiteral("BRemove"));
    auto *listButtons = new QHBoxLayout;
    listButtons->addWidget(BAdd);
    listButtons->addWidget(BRemove);
    listButtons->addStretch();

    EName = new QLineEdit(this);
    EName->setObjectName(QStringLiteral("EName"));
    auto *nameForm = new QFormLayout;
    nameForm->addRow(QStringLiteral("Имя:"), EName);

    RSerial = new QRadioButton(QStringLiteral("Адаптер на последовательном порту"), this);
    RSerial->setObjectName(QStringLiteral("RSerial"));
    RKernel = new QRadioButton(QStringLiteral("Драйвер 1-Wire ядра Linux (GPIO Raspberry Pi, DS2482, DS9490R)"), this);
    RKernel->setObjectName(QStringLiteral("RKernel"));
    RDs2480b = new QRadioButton(QStringLiteral("Адаптер DS2480B на последовательном порту (DS9097U, LinkUSB)"), this);
    RDs2480b->setObjectName(QStringLiteral("RDs2480b"));
    SComPort = new QSpinBox(this);
    SComPort->setObjectName(QStringLiteral("SComPort"));
    SComPort->setRange(1, MaxComPort);
    SComPort->setPrefix(QStringLiteral("COM"));
    auto *portForm = new QFormLayout;
    portForm->addRow(QStringLiteral("Порт:"), SComPort);
    auto *pathLabel = new QLabel(QStringLiteral("Папка устройств:"), this);
    EKernelPath = new QLineEdit(this);
    EKernelPath->setObjectName(QStringLiteral("EKernelPath"));
    pathLabel->setBuddy(EKernelPath);
    ROwServer = new QRadioButton(QStringLiteral("Сервер owserver (OWFS): любой его адаптер, на этой машине или другой"), this);
    ROwServer->setObjectName(QStringLiteral("ROwServer"));
    auto *owForm = new QFormLayout;
    EOwHost = new QLineEdit(this);
    EOwHost->setObjectName(QStringLiteral("EOwHost"));
    SOwPort = new QSpinBox(this);
    SOwPort->setObjectName(QStringLiteral("SOwPort"));
    SOwPort->setRange(1, 65535);
    EOwPath = new QLineEdit(this);
    EOwPath->setObjectName(QStringLiteral("EOwPath"));
    EOwPath->setPlaceholderText(QStringLiteral("весь сервер; /bus.1 — одна его шина"));
    owForm->addRow(QStringLiteral("Адрес:"), EOwHost);
    owForm->addRow(QStringLiteral("Порт:"), SOwPort);
    owForm->addRow(QStringLiteral("Путь:"), EOwPath);
    CBulkConvert = new QCheckBox(QStringLiteral("Все датчики измеряют одновременно"), this);
    CBulkConvert->setObjectName(QStringLiteral("CBulkConvert"));
    auto *hint = new QLabel(QStringLiteral("Опрос ждёт самый медленный датчик, а не 750 мс на каждый. "
                                           "Если на шине есть датчик с паразитным питанием, "
                                           "датчики по-прежнему измеряют по очереди (кроме адаптера DS2480B)."),
                            this);
    hint->setWordWrap(true);
    CActive = new QCheckBox(QStringLiteral("Включена"), this);
    CActive->setObjectName(QStringLiteral("CActive"));
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(TBuses);
    layout->addLayout(listButtons);
    layout->addLayout(nameForm);
    layout->addWidget(RSerial);
    layout->addWidget(RDs2480b);
    layout->addLayout(portForm);
    layout->addWidget(RKernel);
    layout->addWidget(pathLabel);
    layout->addWidget(EKernelPath);
    layout->addWidget(ROwServer);
    layout->addLayout(owForm);
    layout->addWidget(CBulkConvert);
    layout->addWidget(hint);
    layout->addWidget(CActive);
    layout->addWidget(Buttons);
    setMinimumWidth(420);

    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(BAdd, &QPushButton::clicked, this, &BusDialog::addBus);
    connect(BRemove, &QPushButton::clicked, this, &BusDialog::removeBus);
    connect(TBuses, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (!m_loading && row >= 0 && row != m_current)
            select(row);
    });
    // Every change goes into the bus at once, so its row shows it.
    const auto changed = [this] {
        if (m_loading)
            return;
        enableFields();
        store();
    };
    for (QRadioButton *kind : {RSerial, RDs2480b, RKernel, ROwServer})
        connect(kind, &QRadioButton::toggled, this, changed);
    for (QLineEdit *text : {EName, EKernelPath, EOwHost, EOwPath})
        connect(text, &QLineEdit::textChanged, this, changed);
    for (QSpinBox *number : {SComPort, SOwPort})
        connect(number, &QSpinBox::valueChanged, this, changed);
    for (QCheckBox *box : {CBulkConvert, CActive})
        connect(box, &QCheckBox::toggled, this, changed);

    setBuses({});
}

void BusDialog::setBuses(const std::vector<BusConfig> &buses, const std::vector<int> &sensorsPerBus)
{
    m_buses = buses.empty() ? std::vector<BusConfig>{BusConfig{}} : buses;
    if (static_cast<int>(m_buses.size()) > MaxBuses)
        m_buses.resize(MaxBuses);
    m_buses.front().Active = true;
    m_originalCount = static_cast<int>(m_buses.size());
    m_origin.clear();
    m_sensors.clear();
    for (int i = 0; i < m_originalCount; ++i) {
        m_origin.push_back(i + 1);
        m_sensors.push_back(i < static_cast<int>(sensorsPerBus.size()) ? sensorsPerBus[static_cast<size_t>(i)] : 0);
    }
    m_loading = true;
    TBuses->setRowCount(0);
    TBuses->setRowCount(m_originalCount);
    for (int row = 0; row < m_originalCount; ++row)
        showRow(row);
    m_loading = false;
    m_current = -1;
    select(0);
}

std::vector<BusConfig> BusDialog::buses() const
{
    return m_buses;
}

std::vector<int> BusDialog::busRenumbering() const
{
    std::vector<int> renumbering(static_cast<size_t>(m_originalCount) + 1, 1);
    renumbering[0] = 0;
    for (size_t i = 0; i < m_origin.size(); ++i) {
        if (m_origin[i] > 0)
            renumbering[static_cast<size_t>(m_origin[i])] = static_cast<int>(i) + 1;
    }
    return renumbering;
}

void BusDialog::addBus()
{
    if (static_cast<int>(m_buses.size()) >= MaxBuses)
        return;
    m_buses.push_back(BusConfig{});
    m_origin.push_back(0);
    m_sensors.push_back(0);
    const int row = static_cast<int>(m_buses.size()) - 1;
    m_loading = true;
    TBuses->setRowCount(row + 1);
    showRow(row);
    m_loading = false;
    select(row);
}

void BusDialog::removeBus()
{
    const int row = m_current;
    if (row <= 0 || row >= static_cast<int>(m_buses.size()))
        return;
    const int sensors = m_sensors[static_cast<size_t>(row)];
    if (sensors > 0
        && !m_boxes.confirm(QStringLiteral("На шине «%1» датчиков: %2. Удалить шину? Её датчики перейдут на шину 1.")
                                .arg(busName(m_buses[static_cast<size_t>(row)], row + 1))
                                .arg(sensors)))
        return;
    m_buses.erase(m_buses.begin() + row);
    m_origin.erase(m_origin.begin() + row);
    m_sensors.erase(m_sensors.begin() + row);
    // The sensors of the removed bus are read on bus 1 from now on.
    m_sensors.front() += sensors;
    m_loading = true;
    TBuses->removeRow(row);
    // The buses after it move up one number.
    for (int r = row; r < static_cast<int>(m_buses.size()); ++r)
        showRow(r);
    m_loading = false;
    m_current = -1;
    select(std::min(row, static_cast<int>(m_buses.size()) - 1));
}

void BusDialog::select(int row)
{
    m_current = row;
    const BusConfig &bus = m_buses[static_cast<size_t>(row)];
    m_loading = true;
    TBuses->setCurrentCell(row, 0);
    EName->setText(bus.Name);
    EName->setPlaceholderText(QStringLiteral("Шина ") + QString::number(row + 1));
    QRadioButton *kind = RSerial;
    if (bus.Kind == QLatin1String("kernel"))
        kind = RKernel;
    else if (bus.Kind == QLatin1String("owserver"))
        kind = ROwServer;
    else if (bus.Kind == QLatin1String("ds2480b"))
        kind = RDs2480b;
    kind->setChecked(true);
    SComPort->setValue(std::clamp(bus.COMPort, 1, MaxComPort));
    EKernelPath->setText(bus.KernelPath);
    EOwHost->setText(bus.OwServer.Host);
    SOwPort->setValue(bus.OwServer.Port);
    EOwPath->setText(bus.OwServer.Path);
    CBulkConvert->setChecked(bus.BulkConvert);
    CActive->setChecked(row == 0 || bus.Active);
    m_loading = false;
    enableFields();
}

void BusDialog::store()
{
    if (m_current < 0 || m_current >= static_cast<int>(m_buses.size()))
        return;
    BusConfig &b = m_buses[static_cast<size_t>(m_current)];
    const BusConfig d;
    b.Name = EName->text().trimmed();
    b.Kind = RKernel->isChecked() ? QStringLiteral("kernel")
        : ROwServer->isChecked()    ? QStringLiteral("owserver")
        : RDs2480b->isChecked()     ? QStringLiteral("ds2480b")
                                    : QStringLiteral("serial");
    // A port the file gives outside what the box shows stays until the user picks another.
    if (SComPort->value() != std::clamp(b.COMPort, 1, MaxComPort))
        b.COMPort = SComPort->value();
    // An emptied field means the usual place, as a missing key does.
    const QString path = EKernelPath->text().trimmed();
    b.KernelPath = path.isEmpty() ? d.KernelPath : path;
    // An emptied host means this machine's server.
    const QString host = EOwHost->text().trimmed();
    b.OwServer.Host = host.isEmpty() ? d.OwServer.Host : host;
    b.OwServer.Port = SOwPort->value();
    b.OwServer.Path = EOwPath->text().trimmed();
    b.BulkConvert = CBulkConvert->isChecked();
    b.Active = m_current == 0 || CActive->isChecked();
    m_loading = true;
    showRow(m_current);
    m_loading = false;
}

void BusDialog::showRow(int row)
{
    const BusConfig &bus = m_buses[static_cast<size_t>(row)];
    QString kind = kindText(bus.Kind);
    if (!bus.Active)
        kind += QStringLiteral(" (выключена)");
    const QStringList cells{QString::number(row + 1), busName(bus, row + 1), kind, placeText(bus)};
    for (int column = 0; column < cells.size(); ++column) {
        QTableWidgetItem *item = TBuses->item(row, column);
        if (!item) {
            item = new QTableWidgetItem;
            TBuses->setItem(row, column, item);
        }
        item->setText(cells[column]);
    }
}

void BusDialog::enableFields()
{
    SComPort->setEnabled(RSerial->isChecked() || RDs2480b->isChecked());
    EKernelPath->setEnabled(RKernel->isChecked());
    for (QWidget *field : {static_cast<QWidget *>(EOwHost), static_cast<QWidget *>(SOwPort), static_cast<QWidget *>(EOwPath)})
        field->setEnabled(ROwServer->isChecked());
    CActive->setEnabled(m_current > 0);
    BRemove->setEnabled(m_current > 0);
    BAdd->setEnabled(static_cast<int>(m_buses.size()) < MaxBuses);
}
