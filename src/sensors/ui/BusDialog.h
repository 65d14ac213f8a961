#pragma once

#include <QDialog>

class QCheckBox;
class QDialogButtonBox;

// How the bus is polled, beside the specified settings ([Bus] of Kalvex.ini).
struct BusSettings
{
    // Every sensor converts at once and the wait ends when the slowest is done.
    bool BulkConvert = false;

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
    QDialogButtonBox *Buttons = nullptr;
};
