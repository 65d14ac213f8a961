#pragma once

#include "app/ui/SettingsBinding.h"

#include <QObject>
#include <QString>

#include <functional>

class DialogBoxes;
class SensorSlots;
class StringGridView;
class TForm1Ui;
class TForm2;
class TForm3;
class QWidget;

// The sensor editor (TForm2) and the settings dialog (TForm3), made once as the window's first
// dialogs, and the commands that open them: "Настройки" (N2, BSetting), "Добавить датчик" (N4,
// BAdd, N13), a double click on the readings grid and the picture menu's "Редактировать".
// The dialogs are the window's children; it deletes them, in its order of things.
class DialogCommands final : public QObject
{
public:
    struct Parts
    {
        // N2, BSetting, N4, BAdd and N13.
        TForm1Ui &ui;
        SensorSlots &sensorSlots;
        StringGridView &snsView;
        DialogBoxes &boxes;
        // The window as the settings dialog changes it.
        SettingsBinding::Parts settings;
        // Where a bare file name lives (ProgramDir).
        QString programFolder;
        // An edit or new settings (names, places, the background) change what the page shows.
        std::function<void()> publishSnapshot;
        // The names of the buses, bus 1 first (the editor's bus choice).
        std::function<QStringList()> busNames = {};
    };

    DialogCommands(Parts parts, QWidget *window);
    ~DialogCommands() override;

    TForm2 &form2() const { return *m_form2; }
    TForm3 &form3() const { return *m_form3; }

private:
    void N2Click();
    void N4Click();
    void SnsDblClick();
    // EditItem(index) and the editor shown modally; -1 for a new sensor.
    void openEditor(int index);

    Parts m_parts;
    // Outlives the settings dialog, which the window deletes first.
    SettingsBinding m_settingsBinding;
    TForm2 *m_form2;
    TForm3 *m_form3;
};
