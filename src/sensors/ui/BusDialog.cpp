#include "sensors/ui/BusDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

BusDialog::BusDialog(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("BusDialog"));
    setWindowTitle(QStringLiteral("Шина"));
    CBulkConvert = new QCheckBox(QStringLiteral("Все датчики измеряют одновременно"), this);
    CBulkConvert->setObjectName(QStringLiteral("CBulkConvert"));
    auto *hint = new QLabel(QStringLiteral("Опрос ждёт самый медленный датчик, а не 750 мс на каждый. "
                                           "Если на шине есть датчик с паразитным питанием, "
                                           "датчики по-прежнему измеряют по очереди."),
                            this);
    hint->setWordWrap(true);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    Buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Отмена"));
    auto *layout = new QVBoxLayout(this);
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
}

BusSettings BusDialog::settings() const
{
    BusSettings s;
    s.BulkConvert = CBulkConvert->isChecked();
    return s;
}
