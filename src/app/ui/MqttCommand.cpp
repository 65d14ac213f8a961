#include "app/ui/MqttCommand.h"

#include "app/ui/AppTitle.h"
#include "base/ErrorGuard.h"
#include "mqtt/MqttPublisher.h"
#include "mqtt/ui/MqttDialog.h"

#include <QAction>

#include <utility>

MqttCommand::MqttCommand(ReadingFeed &feed, Log &log, const QString &programDir, MqttSettings &settings,
                         DialogBoxes &boxes, QAction *menuItem, QWidget *window, std::function<void()> stateChanged)
    : m_settings(settings)
    , m_boxes(boxes)
    , m_window(window)
    , m_stateChanged(std::move(stateChanged))
    , m_publisher(std::make_unique<MqttPublisher>(feed, log, apptitle::versionText(), programDir))
{
    connect(m_publisher.get(), &MqttPublisher::stateChanged, this, [this] { m_stateChanged(); });
    if (menuItem)
        connect(menuItem, &QAction::triggered, this, &MqttCommand::open);
}

MqttCommand::~MqttCommand() = default;

void MqttCommand::setSettings(const MqttSettings &settings)
{
    m_settings = settings;
    m_publisher->setSettings(m_settings);
    m_stateChanged();
}

// Where readings go besides the program; applied at once.
void MqttCommand::open()
{
    guarded(m_boxes, [this] {
        MqttDialog dialog(m_boxes, m_window);
        dialog.setSettings(m_settings);
        if (dialog.exec() == QDialog::Accepted)
            setSettings(dialog.settings());
    });
}
