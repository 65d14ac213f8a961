#pragma once

#include "sensors/OwServerBusSettings.h"

#include <QDialog>
#include <QString>

class QCheckBox;
class QDialogButtonBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

// How the bus is polled, beside the specified settings ([Bus] of Kalvex.ini).
struct BusSettings
{
    // Every sensor converts at once and the wait ends when the slowest is done.
    bool BulkConvert = false;
    // "serial": the port drives the line; "kernel": the kernel's driver, devices under
    // KernelPath; "owserver": an OWFS server's buses; "ds2480b": the port through a DS2480B
    // line driver.
    QString Kind = QStringLiteral("serial");
    QString KernelPath = QStringLiteral("/sys/bus/w1/devices");
    OwServerBusSettings OwServer;

    bool operator==(const BusSettings &) const = default;
};

// The dialog "Шина": fills from the settings in effect, gives back what the user ticked.
// OK accepts, Cancel and Esc reject; the caller applies the result.
class BusDialog : public QDialog
{
    Q_OBJECT

public:
    explicit BusDialog(QWidget *parent = nullptr);

    void setSettings(const BusSettings &settings);
    BusSettings settings() const;

    QCheckBox *CBulkConvert = nullptr; // "Все датчики измеряют одновременно"
    QRadioButton *RSerial = nullptr;   // the serial port
    QRadioButton *RKernel = nullptr;   // the kernel's driver
    QRadioButton *RDs2480b = nullptr;  // the port through a DS2480B
    QLineEdit *EKernelPath = nullptr;  // its folder of devices, editable with RKernel only
    QRadioButton *ROwServer = nullptr; // an owserver; its host, port and path editable with it only
    QLineEdit *EOwHost = nullptr;
    QSpinBox *SOwPort = nullptr;
    QLineEdit *EOwPath = nullptr;
    QDialogButtonBox *Buttons = nullptr;
};
