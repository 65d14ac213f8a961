#include "app/ui/SensorInfoWindow.h"

#include "onewire/SensorDiagnosis.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

SensorInfoWindow::SensorInfoWindow(const QString &serial, const QString &name, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("SensorInfoWindow"));
    setWindowTitle(QStringLiteral("Сведения о датчике"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    m_title = new QLabel(name.isEmpty() ? serial : name + QStringLiteral(" (") + serial + QLatin1Char(')'), this);
    m_title->setObjectName(QStringLiteral("title"));
    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("details"));
    m_text->setReadOnly(true);
    m_text->setPlainText(QStringLiteral("Идёт проверка датчика…"));
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *close = buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::RejectRole);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    layout->addWidget(m_title);
    layout->addWidget(m_text, 1);
    layout->addWidget(buttons);
    resize(560, 380);
}

void SensorInfoWindow::showReport(const SensorReport &report)
{
    m_text->setPlainText(report.detailLines().join(QLatin1Char('\n')));
}

void SensorInfoWindow::showFailure(const QString &text)
{
    m_text->setPlainText(text);
}

QString SensorInfoWindow::text() const
{
    return m_text->toPlainText();
}
