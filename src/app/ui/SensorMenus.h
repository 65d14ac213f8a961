#pragma once

#include <QObject>
#include <QString>

#include <functional>

class DialogBoxes;
class SensorPanel;
class SensorSlots;
class StringGrid;
class StringGridView;
class TForm1Ui;

// The sensor pictures' pop-up menu (on, off, edit, delete, "Сведения…") and the readings
// grid's own menu ("Сведения…" of the row clicked). Every change a command makes, and a
// picture dropped at a new place, is handed to the web page.
class SensorMenus final : public QObject
{
public:
    struct Parts
    {
        // NImgOn, NImgOff, N18, N16, NInfo, SnsPopup and NSnsInfo.
        TForm1Ui &ui;
        SensorSlots &sensorSlots;
        SensorPanel &panel;
        StringGridView &snsView;
        const StringGrid &Sns;
        DialogBoxes &boxes;
        std::function<void()> publishSnapshot;
        // The window "Сведения о датчике" of the sensor with this serial number.
        std::function<void(const QString &serial)> showSensorInfo;
    };

    explicit SensorMenus(Parts parts, QObject *parent = nullptr);

private:
    // A picture command on SelectedItem, under the error guard.
    void pictureCommand(void (SensorSlots::*command)());

    Parts m_parts;
};
