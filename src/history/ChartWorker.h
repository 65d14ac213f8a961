#pragma once

#include "history/HistoryQuery.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

// Builds one history chart at a time on a thread and a connection of its own, so the window
// thread goes on polling, raising alarms and serving the page meanwhile. Results come back whole
// through the signals, on the thread of this object; a cancelled chart sends nothing.
class ChartWorker : public QObject
{
    Q_OBJECT

public:
    explicit ChartWorker(QObject *parent = nullptr);
    ~ChartWorker() override;

    // Cancels a chart still being built, then starts this one on the store file `path`.
    void start(const QString &path, const history::ChartRequest &request);
    // Stops the running chart, if any, and waits for its thread and connection to be gone.
    void cancel();
    // True from start until finished, failed or cancel.
    bool running() const { return m_job != nullptr; }

signals:
    // maximum 0: the statement runs, its rows are not known yet.
    void progress(int position, int maximum);
    void finished(const std::vector<history::ChartLine> &lines);
    void failed(const QString &message);

private:
    struct Job
    {
        std::atomic<bool> cancelled{false};
    };
    void run(std::shared_ptr<Job> job, QString path, history::ChartRequest request);
    void done(const std::shared_ptr<Job> &job);

    std::shared_ptr<Job> m_job;
    std::thread m_thread;
};
