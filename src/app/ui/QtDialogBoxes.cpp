#include "app/ui/QtDialogBoxes.h"

#include "app/ui/AppTitle.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QPointer>
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
    if (m_closing) {
        qWarning("Kalvex: %s", qUtf8Printable(text));
        return;
    }
    show(QMessageBox::Information, text);
}

bool QtDialogBoxes::confirm(const QString &text)
{
    if (m_closing)
        return false;
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
    if (m_closing) {
        qWarning("Kalvex: %s", qUtf8Printable(text));
        return;
    }
    show(QMessageBox::Critical, text);
}

QString QtDialogBoxes::openFile(const QString &title, const QString &directory, const QString &filter)
{
    if (m_closing)
        return {};
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), title, directory, filter);
}

void QtDialogBoxes::closeAll()
{
    m_closing = true;
    QList<QPointer<QWidget>> open;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && (w->isModal() || w->windowType() == Qt::Popup))
            open << w;
    }
    // Each nested loop returns once the stack unwinds to it: rejecting them all now means no
    // box waits behind another.
    for (const QPointer<QWidget> &w : open) {
        if (!w)
            continue;
        if (auto *dialog = qobject_cast<QDialog *>(w.data()))
            dialog->reject();
        else
            w->close();
    }
}
