#pragma once

#include "sensors/OwServerSettings.h"

#include <QObject>

#include <memory>

class DialogBoxes;
class Log;
class OwServer;
class QAction;
class QWidget;
class ReadingFeed;

// "Файл → Сервер owserver…" and the server behind it: the program's sensors for other 1-Wire
// software, from the readings the cycle hands over. Headless runs have the server without
// the dialog.
class OwServerCommand final : public QObject
{
public:
    OwServerCommand(ReadingFeed &feed, Log &log, DialogBoxes &boxes, QAction *menuItem, QWidget *window);
    ~OwServerCommand() override;

    OwServer &server() const { return *m_server; }
    // Applied at once; the outcome is logged.
    void setSettings(const OwServerSettings &settings);
    const OwServerSettings &settings() const;

private:
    void open();

    DialogBoxes &m_boxes;
    QWidget *m_window;
    std::unique_ptr<OwServer> m_server;
};
