#include "sensors/ui/BusDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

BusDialog::BusDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("BusDialog"));
    setWindowTitle(QStringLiteral("Шина"));
    RSerial = new QRadioButton(QStringLiteral("Адаптер на последовательном порту"), this);
    RSerial->setObjectName(QStringLiteral("RSerial"));
    RKernel = new QRadioButton(QStringLiteral("Драйвер 1-Wire ядра Linux (GPIO Raspberry Pi, DS2482, DS9490R)"), this);
    RKernel->setObjectName(QStringLiteral("RKernel"));
    RDs2480b = new QRadioButton(QStringLiteral("Адаптер DS2480B на последовательном порту (DS9097U, LinkUSB)"), this);
    RDs2480b->setObjectName(QStringLiteral("RDs2480b"));
    auto *pathLabel = new QLabel(QStringLiteral("Папка устройств:"), this);
    EKernelPath = new QLineEdit(this);
    EKernelPath->setObjectName(QStringLiteral("EKernelPath"));
    pathLabel->setBuddy(EKernelPath);
    connect(RKernel, &QRadioButton::toggled, EKernelPath, &QLineEdit::setEnabled);
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
    for (QWidget *field : {static_cast<QWidget *>(EOwHost), static_cast<QWidget *>(SOwPort), static_cast<QWidget *>(EOwPath)}) {
        connect(ROwServer, &QRadioButton::toggled, field, &QWidget::setEnabled);
        field->setEnabled(false);
    }
    RSerial->setChecked(true);
    EKernelPath->setEnabled(false);
    CBulkConvert = new QCheckBox(QStringLiteral("Все датчики измеряют одновременно"), this);
    CBulkConvert->setObjectName(QStringLiteral("CBulkConvert"));
    auto *hint = new QLabel(QStringLiteral("Опрос ждёт самый медленный датчик, а не 750 мс на каждый. "
                                           "Если на шине есть датчик с паразитным питанием, "
                                           "датчики по-прежнему измеряют по очереди (кроме адаптера DS2480B)."),
                            this);
    hint->setWordWrap(true);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(RSerial);
    layout->addWidget(RDs2480b);
    layout->addWidget(RKernel);
    layout->addWidget(pathLabel);
    layout->addWidget(EKernelPath);
    layout->addWidget(ROwServer);
    layout->addLayout(owForm);
    layout->addWidget(CBulkConvert);
    layout->addWidget(hint);
    layout->addWidget(Buttons);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    setMinimumWidth(360);
}

void BusDialog::setSettings(const BusSettings &settings)
{
    CBulkConvert->setChecked(settings.BulkConvert);
    QRadioButton *kind = RSerial;
    if (settings.Kind == QLatin1String("kernel"))
        kind = RKernel;
    else if (settings.Kind == QLatin1String("owserver"))
        kind = ROwServer;
    else if (settings.Kind == QLatin1String("ds2480b"))
        kind = RDs2480b;
    kind->setChecked(true);
    EKernelPath->setText(settings.KernelPath);
    EOwHost->setText(settings.OwServer.Host);
    SOwPort->setValue(settings.OwServer.Port);
    EOwPath->setText(settings.OwServer.Path);
}

BusSettings BusDialog::settings() const
{
    BusSettings s;
    s.BulkConvert = CBulkConvert->isChecked();
    s.Kind = RKernel->isChecked() ? QStringLiteral("kernel")
        : ROwServer->isChecked()    ? QStringLiteral("owserver")
        : RDs2480b->isChecked()     ? QStringLiteral("ds2480b")
                                    : QStringLiteral("serial");
    // An emptied field means the usual place, as a missing key does.
    s.KernelPath = EKernelPath->text().trimmed().isEmpty() ? BusSettings().KernelPath : EKernelPath->text().trimmed();
    // An emptied host means this machine's server.
    s.OwServer.Host = EOwHost->text().trimmed().isEmpty() ? BusSettings().OwServer.Host : EOwHost->text().trimmed();
    s.OwServer.Port = SOwPort->value();
    s.OwServer.Path = EOwPath->text().trimmed();
    return s;
}
