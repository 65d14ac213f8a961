#pragma once

#include "sensors/TDSItem.h"

#include <QFont>
#include <QObject>
#include <QPixmap>
#include <QPointer>

#include <functional>

#include <QLabel>

class DialogBoxes;
class LiveChart;
class SensorPicture;
class StringGrid;
struct SensorEntry;

// The sensor slots DSItems and the objects each slot owns on the panel PnItems and in the
// live chart: AddItem, DeleteItem, NameBySerial and the commands of the picture menu and of
// the grid Sns. The main window owns one and wires its menus and the editor to it.
class SensorSlots : public QObject
{
    Q_OBJECT

public:
    // `PnItems` is the panel the pictures and labels go on (it owns them); `Chart1` gets one
    // line per sensor; `Sns` and `SHour` lose a deleted sensor's rows; `boxes` asks before a
    // deletion; `CharMaxCount` gives the current number of points per chart line.
    SensorSlots(QWidget *PnItems, LiveChart &Chart1, StringGrid &Sns, StringGrid &SHour,
                DialogBoxes &boxes, std::function<int()> CharMaxCount, QObject *parent = nullptr);
    ~SensorSlots() override;

    // The slots; the array only grows, a slot's index is its sensor's identity for the run.
    TDSItems DSItems;
    // The slot whose picture was last pressed with the right button, -1 otherwise.
    int SelectedItem = -1;

    // Seams to later parts: the tray icon (identifier = slot + 1, tip, background, text
    // colour), its removal, and the sensor editor opened for a slot (modally).
    std::function<void(int id, const QString &tip, TColor background, TColor text)> TrayCreate;
    std::function<void(int id)> TrayDelete;
    // The icon's digits, tip and colours (identifier = slot + 1).
    std::function<void(int id, const QString &text, const QString &tip, TColor background, TColor foreground)>
        TrayModify;
    std::function<void(int index)> EditItem;

    // A new sensor in the first free slot (or a new slot at the end): new picture at (X, Y),
    // labels, chart line with CharMaxCount null points, tray icon when Tray. SN keeps its first
    // 16 characters, the picture's hint shows the whole argument. Returns the slot index.
    int AddItem(int X, int Y, const QString &Name, const QString &SN, bool Enable, double Correct,
                bool Tray, TColor CBFon, TColor CBText, TColor CBChart, const TSign &Sign);
    // The sensor editor's changes to a slot in use, in this order: its rows in Sns and SHour
    // renamed when the name or serial changed, the tray icon created or removed as Tray
    // changed and then updated while it is on, the name label and the chart line, the record's
    // fields, the on or off picture (off also empties the temperature label and LastTemp).
    // The picture's place and hint stay. A slot not in use is left alone.
    void updateItem(int index, const SensorEntry &entry);
    // The name of the first slot in use whose SN equals `SN` exactly; empty when none.
    QString NameBySerial(const QString &SN) const;
    // Asks "Удалить датчик?"; on yes removes the sensor's first rows in Sns and SHour, its tray
    // icon, labels and chart line, hides its picture and frees the slot. A slot not in use
    // (or out of range) is left alone without asking.
    void DeleteItem(int Index);

    // The picture menu's commands on SelectedItem (nothing when it is not a slot in use).
    void N16Click();     // "Удалить"
    void N18Click();     // "Редактировать"
    void NImgOnClick();  // "Включить"
    void NImgOffClick(); // "Выключить": off picture, empty temperature label, LastTemp 0
    // Double click on Sns: the editor for the slot in column 4 of the current row. A cell that
    // holds no integer raises KalvexError (the caller's guard shows it); an index that is
    // no slot in use opens nothing.
    void SnsDblClick();

    // A slot is in use while its picture exists and is not hidden.
    bool inUse(int index) const;
    // True while a slot holds a sensor.
    bool anyInUse() const;
    // The slot's name (its name label's caption); empty for a free slot.
    QString name(int index) const;
    // The picture of `index` as a SensorPicture, or null.
    SensorPicture *picture(int index) const;
    // Shows the on or the off picture on the slot's control.
    void showEnabledPicture(int index, bool enabled);
    // Moves the slot's picture to (L, T) and its labels with it, all to the front.
    void placeItem(int index, int L, int T);

    // The reading marker ImgItemRef, kept out of sight at (-100, -100) while no sensor is read.
    QLabel *ImgItemRef() const { return m_marker; }
    // Over the slot's picture, in front of it; back out of sight.
    void moveMarkerTo(int index);
    void parkMarker();

    // The font of the temperature labels: "Arial Rounded MT Bold" 15 pixels, or the nearest
    // installed face where it is missing.
    const QFont &temperatureFont() const { return m_temperatureFont; }
    const QPixmap &onPicture() const { return m_onPicture; }
    const QPixmap &offPicture() const { return m_offPicture; }

signals:
    // A picture was created for `index`; the panel's mouse handling connects to it.
    void pictureCreated(int index, SensorPicture *picture);

private:
    bool validIndex(int index) const;

    QPointer<QWidget> m_panel;
    LiveChart &m_chart;
    StringGrid &m_sns;
    StringGrid &m_shour;
    DialogBoxes &m_boxes;
    std::function<int()> m_charMaxCount;
    QPixmap m_onPicture;
    QPixmap m_offPicture;
    QFont m_temperatureFont;
    QPointer<QLabel> m_marker;
};
