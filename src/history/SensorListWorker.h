#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <thread>

// Reads the stored serials (history::storedSerials) on a thread and a connection of its own: on
// an older store whose hourly sums are still being built that is a scan of every reading, and
// the window thread goes on meanwhile. The answer comes back whole through a signal on the
// thread of this object; a cancelled read sends nothing.
class SensorListWorker : public QObject
{
    Q_OBJECT

public:
    explicit SensorListWorker(QObject *parent = nullptr);
    ~SensorListWorker() override;

    // Cancels a read still running, then reads the store file `path`.
    void start(const QString &path);
    // Stops the running read, if any, and waits for its thread and connection to be gone.
    void cancel();
    // True from start until finished, failed or cancel.
    bool running() const { return m_job != nullptr; }

signals:
    void finished(const QStringList &serials);
    void failed(const QString &message);

private:
    struct Job
    {
        std::atomic<bool> cancelled{false};
    };
    void run(std::shared_ptr<Job> job, QString path);

    std::shared_ptr<Job> m_job;
    std::thread m_thread;
};
