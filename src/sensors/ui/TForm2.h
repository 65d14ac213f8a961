#pragma once

#include "sensors/SensorEntry.h"
#include "sensors/SensorRecords.h"

#include <QDialog>

#include <array>

class ColorBox;
class DialogBoxes;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QTabWidget;
class QToolButton;
class SensorSlots;

// The sensor editor: a new sensor or one slot's name, serial number, correction, on/off state,
// tray icon and colours, and its four alarm controls. Created once and reused; every opening
// goes through EditItem, then the caller shows it modally. Between openings it keeps its tab
// and, for a new sensor, the track and application toggles.
class TForm2 : public QDialog
{
    Q_OBJECT

public:
    // `random` picks a new sensor's chart colour among the 16 standard colours.
    TForm2(SensorSlots &sensorSlots, DialogBoxes &boxes,
           sensorrecords::RandomSource random = sensorrecords::systemRandom(), QWidget *parent = nullptr);
    ~TForm2() override;

    // The slot being edited, -1 for a new sensor.
    int EditIndex = -1;

    // Fills the dialog from slot `Index` (in use) or, for -1, with a new sensor's defaults.
    void EditItem(int Index);
    // Converts every number field first: one that does not convert raises KalvexError and
    // nothing is applied. Then creates the sensor at 450, 450 or updates the slot, and closes.
    void BOkClick();
    void BCancelClick();
    // Removes the sensor being edited (DeleteItem asks first), then closes whatever the answer.
    void BDeleteClick();
    // LDemo in the selected tray colours.
    void SetColor();
    // Mode button n (1 to 4): "at or above" and "at or below" in turn.
    void SbmClick(int n);
    // A file-open box titled "Выбор" for `Edit`, starting in the folder of its text; Kind "mp3"
    // lists *.wav files, anything else all files. A chosen file replaces the text.
    void SelectFolder(QLineEdit *Edit, const QString &Kind);
    // The buses a sensor can be read on, by name (index 0 = bus 1). The choice CBBus is shown,
    // below the buttons, only with more than one bus.
    void setBusNames(const QStringList &names);
    // The program's folder (ProgramDir): a bare file name in a field names a file there.
    void setProgramFolder(const QString &folder) { m_programFolder = folder; }
    // The four controls of the "Действия" tab; a threshold that does not convert raises
    // KalvexError.
    TSign CreateTSign() const;
    // Everything the dialog holds, every number converted (KalvexError on the first field that
    // does not convert: the correction, then thresholds 1 to 4).
    SensorEntry entry() const;

    // Components under their designed names; the arrays hold controls 1 to 4 (and the browse
    // buttons SpeedButton1 to SpeedButton8) from index 0.
    QTabWidget *PageControl1 = nullptr;
    QWidget *TabSheet1 = nullptr; // "Датчик"
    QWidget *TabSheet2 = nullptr; // "Действия"
    QLineEdit *Edit1 = nullptr;   // name
    QLineEdit *Edit2 = nullptr;   // serial number
    QLineEdit *Edit3 = nullptr;   // correction
    ColorBox *CBChart = nullptr;
    ColorBox *CBFon = nullptr;
    ColorBox *CBText = nullptr;
    QLabel *LDemo = nullptr;
    QToolButton *BOnOff = nullptr; // pressed: the sensor is switched off
    QToolButton *BDelete = nullptr;
    QToolButton *BTray = nullptr;  // pressed: the sensor has a tray icon
    QToolButton *BOk = nullptr;
    QToolButton *BCancel = nullptr;
    QLabel *imgBol = nullptr; // hidden: the "at or above" picture
    QLabel *imgMen = nullptr; // hidden: the "at or below" picture
    std::array<QToolButton *, 4> SEnable{};
    std::array<QToolButton *, 4> Sbm{}; // tag 1: at or above, 0: at or below
    std::array<QLineEdit *, 4> EValue{};
    std::array<QToolButton *, 4> Smp3Enable{};
    std::array<QLineEdit *, 4> Emp3path{};
    std::array<QToolButton *, 4> SAppEnable{};
    std::array<QLineEdit *, 4> EAppPath{};
    std::array<QToolButton *, 8> SpeedButton{};
    QLabel *LBus = nullptr;      // "Шина:"
    QComboBox *CBBus = nullptr;  // the sensor's bus: item i is bus i + 1

signals:
    // A sensor was created, changed or removed.
    void applied();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void setupUi();
    QWidget *setupSensorTab();
    QWidget *setupActionsTab();
    void setMode(int n, bool greaterOrEqual);
    // Esc closes, Enter confirms, from any field; true when the key was used.
    bool FormKeyDown(QKeyEvent *event);
    // Key filter of the number fields; true when the key is dropped.
    bool OnlyCifrMinus(QLineEdit *field, QKeyEvent *event);
    void OnlyCifrExit(QLineEdit *field);
    QLineEdit *numberField(QObject *watched) const;

    SensorSlots &m_slots;
    DialogBoxes &m_boxes;
    // Where a file box for a bare file name starts.
    QString m_programFolder;
    sensorrecords::RandomSource m_random;
    // The bus of the sensor being edited, kept when the list does not have it.
    int m_bus = 1;
};
