#include "owserver/ui/OwServerDialog.h"

#include "base/DialogBoxes.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHostAddress>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

OwServerDialog::OwServerDialog(DialogBoxes &boxes, QWidget *parent)
    : QDialog(parent)
    , m_boxes(boxes)
{
    setObjectName(QStringLiteral("OwServerDialog"));
    setWindowTitle(QStringLiteral("Сервер owserver"));
    CActive = new QCheckBox(QStringLiteral("Отдавать показания по протоколу owserver"), this);
    CActive->setObjectName(QStringLiteral("CActive"));
    EAddress = new QLineEdit(this);
    EAddress->setObjectName(QStringLiteral("EAddress"));
    EAddress->setPlaceholderText(QStringLiteral("все интерфейсы"));
    EPort = new QLineEdit(this);
    EPort->setObjectName(QStringLiteral("EPort"));
    EPort->setValidator(new QIntValidator(0, 65535, EPort));

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Адрес:"), EAddress);
    form->addRow(QStringLiteral("Порт:"), EPort);
    auto *hint = new QLabel(QStringLiteral("Только чтение: Home Assistant (интеграция 1-Wire), owread, owdir и другой "
                                           "owserver видят датчики и последние показания. 127.0.0.1 — только с этой машины."),
                            this);
    hint->setWordWrap(true);

    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(CActive);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addWidget(Buttons);
    connect(Buttons, &QDialogButtonBox::accepted, this, &OwServerDialog::BOkClick);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    setMinimumWidth(400);
}

void OwServerDialog::setSettings(const OwServerSettings &settings)
{
    CActive->setChecked(settings.Active);
    EAddress->setText(settings.Address);
    EPort->setText(QString::number(settings.Port));
}

OwServerSettings OwServerDialog::settings() const
{
    OwServerSettings s;
    s.Active = CActive->isChecked();
    s.Address = EAddress->text().trimmed();
    s.Port = EPort->text().toInt();
    return s;
}

QString OwServerDialog::problem() const
{
    bool number = false;
    const int port = EPort->text().trimmed().toInt(&number);
    if (!number || port < 1 || port > 65535)
        return QStringLiteral("Порт — число от 1 до 65535.");
    const QString address = EAddress->text().trimmed();
    if (!address.isEmpty() && QHostAddress(address).isNull())
        return QStringLiteral("«") + address + QStringLiteral("» — не IP-адрес. Пустое поле — все интерфейсы.");
    return {};
}

void OwServerDialog::BOkClick()
{
    if (const QString failure = problem(); !failure.isEmpty()) {
        m_boxes.message(failure);
        return;
    }
    accept();
}
