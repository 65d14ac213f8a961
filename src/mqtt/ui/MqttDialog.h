#pragma once

#include "sensors/MqttSettings.h"

#include <QDialog>

class DialogBoxes;
class QCheckBox;
class QDialogButtonBox;
class QLineEdit;

// The dialog "MQTT": fills from the settings in effect; OK checks the fields (a box says what
// is wrong and the dialog stays open) and accepts, Cancel and Esc reject. The caller applies
// settings() at once.
class MqttDialog : public QDialog
{
    Q_OBJECT

public:
    explicit MqttDialog(DialogBoxes &boxes, QWidget *parent = nullptr);

    void setSettings(const MqttSettings &settings);
    MqttSettings settings() const;

    QCheckBox *CActive = nullptr;      // "Публиковать показания"
    QLineEdit *EHost = nullptr;
    QLineEdit *EPort = nullptr;
    QLineEdit *EUser = nullptr;
    QLineEdit *EPassword = nullptr;
    QLineEdit *ETopic = nullptr;
    QCheckBox *CDiscovery = nullptr;   // "Обнаружение Home Assistant"
    QLineEdit *EDiscoveryPrefix = nullptr;
    QLineEdit *ECAFile = nullptr;
    QCheckBox *CTLS = nullptr;
    QLineEdit *ECertFile = nullptr;
    QLineEdit *EKeyFile = nullptr;
    QDialogButtonBox *Buttons = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void BOkClick();

    DialogBoxes &m_boxes;
};
