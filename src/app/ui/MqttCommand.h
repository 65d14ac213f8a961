#pragma once

#include <QObject>

#include <functional>
#include <memory>

class DialogBoxes;
class Log;
class MqttPublisher;
class QAction;
class QWidget;
class ReadingFeed;
struct MqttSettings;

// "Файл → MQTT…" and the publisher behind it: readings to a broker and Home Assistant, from
// the readings the cycle hands over. The window holds the settings ([MQTT]).
class MqttCommand final : public QObject
{
public:
    // stateChanged: the publisher's connection changed, or its settings did.
    MqttCommand(ReadingFeed &feed, Log &log, const QString &programDir, MqttSettings &settings, DialogBoxes &boxes,
                QAction *menuItem, QWidget *window, std::function<void()> stateChanged);
    ~MqttCommand() override;

    MqttPublisher &publisher() const { return *m_publisher; }
    // The window's settings := settings, and the publisher reconnects with them at once.
    void setSettings(const MqttSettings &settings);

private:
    void open();

    MqttSettings &m_settings;
    DialogBoxes &m_boxes;
    QWidget *m_window;
    std::function<void()> m_stateChanged;
    std::unique_ptr<MqttPublisher> m_publisher;
};
