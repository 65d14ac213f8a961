#include "app/ui/OwServerCommand.h"

#include "base/ErrorGuard.h"
#include "owserver/OwServer.h"
#include "owserver/ui/OwServerDialog.h"

#include <QAction>

OwServerCommand::OwServerCommand(ReadingFeed &feed, Log &log, DialogBoxes &boxes, QAction *menuItem, QWidget *window)
    : m_boxes(boxes)
    , m_window(window)
    , m_server(std::make_unique<OwServer>(feed, log))
{
    if (menuItem)
        connect(menuItem, &QAction::triggered, this, &OwServerCommand::open);
}

OwServerCommand::~OwServerCommand() = default;

void OwServerCommand::setSettings(const OwServerSettings &settings)
{
    m_server->setSettings(settings);
}

const OwServerSettings &OwServerCommand::settings() const
{
    return m_server->settings();
}

void OwServerCommand::open()
{
    guarded(m_boxes, [this] {
        OwServerDialog dialog(m_boxes, m_window);
        dialog.setSettings(settings());
        if (dialog.exec() == QDialog::Accepted)
            setSettings(dialog.settings());
    });
}
