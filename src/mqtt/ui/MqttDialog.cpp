#include "mqtt/ui/MqttDialog.h"

#include "base/DialogBoxes.h"
#include "mqtt/MqttEntries.h"
#include "sensors/NumberEntry.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

MqttDialog::MqttDialog(DialogBoxes &boxes, QWidget *parent)
    : QDialog(parent)
    , m_boxes(boxes)
{
    setObjectName(QStringLiteral("MqttDialog"));
    setWindowTitle(QStringLiteral("MQTT"));
    const auto line = [this](const char *name) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        return edit;
    };
    CActive = new QCheckBox(QStringLiteral("Публиковать показания"), this);
    CActive->setObjectName(QStringLiteral("CActive"));
    EHost = line("EHost");
    EPort = line("EPort");
    EPort->installEventFilter(this);
    EUser = line("EUser");
    EPassword = line("EPassword");
    EPassword->setEchoMode(QLineEdit::Password);
    ETopic = line("ETopic");
    CDiscovery = new QCheckBox(QStringLiteral("Обнаружение Home Assistant"), this);
    CDiscovery->setObjectName(QStringLiteral("CDiscovery"));
    EDiscoveryPrefix = line("EDiscoveryPrefix");
    ECAFile = line("ECAFile");
    ECAFile->setPlaceholderText(QStringLiteral("системное хранилище"));
    CTLS = new QCheckBox(QStringLiteral("TLS"), this);
    CTLS->setObjectName(QStringLiteral("CTLS"));
    ECertFile = line("ECertFile");
    EKeyFile = line("EKeyFile");

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Брокер:"), EHost);
    form->addRow(QStringLiteral("Порт:"), EPort);
    form->addRow(QStringLiteral("Пользователь:"), EUser);
    form->addRow(QStringLiteral("Пароль:"), EPassword);
    form->addRow(QStringLiteral("Тема:"), ETopic);
    form->addRow(CDiscovery);
    form->addRow(QStringLiteral("Префикс обнаружения:"), EDiscoveryPrefix);
    form->addRow(CTLS);
    form->addRow(QStringLiteral("Сертификат CA:"), ECAFile);
    form->addRow(QStringLiteral("Сертификат клиента:"), ECertFile);
    form->addRow(QStringLiteral("Ключ клиента:"), EKeyFile);
    auto *hint = new QLabel(QStringLiteral("С паролем файл настроек доступен для чтения только его владельцу."), this);
    hint->setWordWrap(true);

    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(CActive);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addWidget(Buttons);
    connect(Buttons, &QDialogButtonBox::accepted, this, &MqttDialog::BOkClick);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(CDiscovery, &QCheckBox::toggled, EDiscoveryPrefix, &QWidget::setEnabled);
    setMinimumWidth(400);
}

void MqttDialog::setSettings(const MqttSettings &settings)
{
    const mqttentries::Entries e = mqttentries::entriesOf(settings);
    CActive->setChecked(e.Active);
    EHost->setText(e.Host);
    EPort->setText(e.Port);
    EUser->setText(e.User);
    EPassword->setText(e.Password);
    ETopic->setText(e.Topic);
    CDiscovery->setChecked(e.Discovery);
    EDiscoveryPrefix->setText(e.DiscoveryPrefix);
    EDiscoveryPrefix->setEnabled(e.Discovery);
    ECAFile->setText(e.CAFile);
    CTLS->setChecked(e.TLS);
    ECertFile->setText(e.CertFile);
    EKeyFile->setText(e.KeyFile);
}

namespace {

mqttentries::Entries entriesOf(const MqttDialog &d)
{
    mqttentries::Entries e;
    e.Active = d.CActive->isChecked();
    e.Host = d.EHost->text();
    e.Port = d.EPort->text();
    e.User = d.EUser->text();
    e.Password = d.EPassword->text();
    e.Topic = d.ETopic->text();
    e.Discovery = d.CDiscovery->isChecked();
    e.DiscoveryPrefix = d.EDiscoveryPrefix->text();
    e.CAFile = d.ECAFile->text();
    e.TLS = d.CTLS->isChecked();
    e.CertFile = d.ECertFile->text();
    e.KeyFile = d.EKeyFile->text();
    return e;
}

} // namespace

MqttSettings MqttDialog::settings() const
{
    return mqttentries::settingsOf(entriesOf(*this));
}

void MqttDialog::BOkClick()
{
    const QString failure = mqttentries::check(entriesOf(*this));
    if (!failure.isEmpty()) {
        m_boxes.message(failure);
        return;
    }
    accept();
}

bool MqttDialog::eventFilter(QObject *watched, QEvent *event)
{
    // The port takes digits only, as the settings dialog's number fields do.
    if (watched == EPort && event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent *>(event)->text();
        if (text.size() == 1 && text.at(0).isPrint() && !numberentry::digitKey(text.at(0)))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}
