#pragma once

#include "sensors/BusConfig.h"

#include <QDialog>
#include <QString>

#include <vector>

class DialogBoxes;
class QCheckBox;
class QDialogButtonBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;

// The dialog "Шина": the list of the house's buses and, below it, the editor of the one
// selected. Bus 1 is always there and always on; at most MaxBuses. OK accepts, Cancel and Esc
// reject; the caller applies buses() and moves the sensors of removed buses as
// busRenumbering() says.
class BusDialog : public QDialog
{
    Q_OBJECT

public:
    // `boxes` asks before a bus with sensors is removed.
    explicit BusDialog(DialogBoxes &boxes, QWidget *parent = nullptr);

    // The buses in effect, bus 1 first (an empty list gives one default bus), and how many
    // sensors each has (index 0 = bus 1; missing entries count none). Selects bus 1.
    void setBuses(const std::vector<BusConfig> &buses, const std::vector<int> &sensorsPerBus = {});
    std::vector<BusConfig> buses() const;
    // For each bus number given to setBuses (index 0 unused): its number now, or 1 when it
    // was removed.
    std::vector<int> busRenumbering() const;

    // A new default bus at the end, selected; nothing at MaxBuses.
    void addBus();
    // Removes the selected bus (never bus 1); with sensors on it, asks first.
    void removeBus();

    QTableWidget *TBuses = nullptr;  // number, name, kind, place; one row per bus
    QPushButton *BAdd = nullptr;     // "Добавить"
    QPushButton *BRemove = nullptr;  // "Удалить"
    QLineEdit *EName = nullptr;      // the bus's own name; placeholder "Шина N"
    QRadioButton *RSerial = nullptr; // the serial port
    QRadioButton *RKernel = nullptr; // the kernel's driver
    QRadioButton *RDs2480b = nullptr; // the port through a DS2480B
    QSpinBox *SComPort = nullptr;    // the port's number, editable with RSerial and RDs2480b
    QLineEdit *EKernelPath = nullptr; // its folder of devices, editable with RKernel only
    QRadioButton *ROwServer = nullptr; // an owserver; its host, port and path editable with it only
    QLineEdit *EOwHost = nullptr;
    QSpinBox *SOwPort = nullptr;
    QLineEdit *EOwPath = nullptr;
    QCheckBox *CBulkConvert = nullptr; // "Все датчики измеряют одновременно"
    QCheckBox *CActive = nullptr;      // "Включена"; bus 1 always is
    QDialogButtonBox *Buttons = nullptr;

private:
    // The editor shows bus `row`, the table marks it.
    void select(int row);
    // The editor's contents into the bus shown.
    void store();
    void showRow(int row);
    void enableFields();

    DialogBoxes &m_boxes;
    std::vector<BusConfig> m_buses;
    // Per bus: its number in setBuses (0 for a bus added here), and its sensors.
    std::vector<int> m_origin;
    std::vector<int> m_sensors;
    int m_originalCount = 1;
    int m_current = -1;
    bool m_loading = false;
};
