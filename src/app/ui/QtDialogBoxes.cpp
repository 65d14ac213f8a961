#include "app/ui/QtDialogBoxes.h"

#include "app/ui/AppTitle.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

void show(QMessageBox::Icon icon, const QString &text)
{
    QMessageBox box(icon, apptitle::title(), text, QMessageBox::NoButton, QApplication::activeWindow());
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

} // namespace

void QtDialogBoxes::message(const QString &text)
{
    show(QMessageBox::Information, text);
}

bool QtDialogBoxes::confirm(const QString &text)
{
    QMessageBox box(QMessageBox::Question, apptitle::title(), text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    QPushButton *yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void QtDialogBoxes::error(const QString &text)
{
    show(QMessageBox::Critical, text);
}

QString QtDialogBoxes::openFile(const QString &title, const QString &directory, const QString &filter)
{
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), title, directory, filter);
}
