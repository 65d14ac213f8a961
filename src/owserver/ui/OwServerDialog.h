#pragma once

#include "sensors/OwServerSettings.h"

#include <QDialog>

class DialogBoxes;
class QCheckBox;
class QDialogButtonBox;
class QLineEdit;

// The dialog "Сервер owserver": fills from the settings in effect; OK checks the fields (a box
// says what is wrong and the dialog stays open) and accepts, Cancel and Esc reject. The caller
// applies settings() at once.
class OwServerDialog : public QDialog
{
    Q_OBJECT

public:
    explicit OwServerDialog(DialogBoxes &boxes, QWidget *parent = nullptr);

    void setSettings(const OwServerSettings &settings);
    OwServerSettings settings() const;
    // What is wrong with the fields, empty when nothing is.
    QString problem() const;

    QCheckBox *CActive = nullptr;   // "Отдавать показания по протоколу owserver"
    QLineEdit *EAddress = nullptr;  // empty: every interface
    QLineEdit *EPort = nullptr;
    QDialogButtonBox *Buttons = nullptr;

private:
    void BOkClick();

    DialogBoxes &m_boxes;
};
