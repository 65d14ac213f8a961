#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the window thread, so that a service stop or
// Ctrl+C ends the program through its normal shutdown (tray icons, autostart, configuration)
// instead of killing it mid-way. The handler only writes a byte into a pipe; the event loop
// reads it.
class TerminationSignals final : public QObject
{
    Q_OBJECT

public:
    // Installs the handlers. Call it first thing in main: a signal that arrives before the
    // event loop runs waits in the pipe and is delivered once the loop runs.
    static bool installHandlers();

    // Watches the pipe; needs the application object. installHandlers() must have succeeded.
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    // signalNumber: SIGTERM, SIGINT or SIGHUP. Emitted once per signal received.
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
