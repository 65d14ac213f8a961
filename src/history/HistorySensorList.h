#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class StringGrid;

// The history window's sensor list Sns: column 0 "x" when ticked, column 1 the sensor's name
// as found when its row was added, column 2 the serial number (the row's key). No fixed rows;
// an empty list keeps one empty row. Rows are only ever added.
class HistorySensorList
{
public:
    static constexpr int ColCount = 3;
    static constexpr int TickCol = 0;
    static constexpr int NameCol = 1;
    static constexpr int SerialCol = 2;

    // Gives `Sns` its shape (3 columns, no fixed rows) unless it has rows already.
    explicit HistorySensorList(StringGrid &Sns);

    // Adds, ticked and at the bottom, every serial of `serials` that no row holds yet, with
    // NameBySerial of it; existing rows keep their ticks and names.
    void LoadSns(const QStringList &serials, const std::function<QString(const QString &)> &NameBySerial);
    // The name of the first row whose serial is `Sn`; empty when none.
    QString GetNameSer(const QString &Sn) const;
    // The serials of the ticked rows, top to bottom.
    QStringList selection() const;
    // Ticks an unticked row and unticks a ticked one.
    void toggleTick(int row);
    bool ticked(int row) const;

private:
    StringGrid &m_grid;
};
