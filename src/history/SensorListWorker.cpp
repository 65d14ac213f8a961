#include "history/SensorListWorker.h"

#include "base/KalvexError.h"
#include "history/StoredSerials.h"
#include "history/TADOQuery.h"

#include <QMetaObject>

SensorListWorker::SensorListWorker(QObject *parent)
    : QObject(parent)
{
}

SensorListWorker::~SensorListWorker()
{
    cancel();
}

void SensorListWorker::cancel()
{
    if (m_job)
        m_job->cancelled = true;
    if (m_thread.joinable())
        m_thread.join();
    m_job.reset();
}

void SensorListWorker::start(const QString &path)
{
    cancel();
    m_job = std::make_shared<Job>();
    m_thread = std::thread(&SensorListWorker::run, this, m_job, path);
}

void SensorListWorker::run(std::shared_ptr<Job> job, QString path)
{
    QStringList serials;
    QString error;
    {
        TADOQuery query;
        query.setInterruptCheck([job] { return job->cancelled.load(std::memory_order_relaxed); });
        query.setConnectionString(path);
        try {
            serials = history::storedSerials(query);
        } catch (const KalvexError &e) {
            error = e.message();
        } catch (const std::exception &e) {
            error = QString::fromLocal8Bit(e.what());
        }
    }
    if (job->cancelled)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, job, serials = std::move(serials), error]() {
            if (job != m_job || job->cancelled)
                return;
            // The thread has posted its last word: joined here, not at the next start.
            if (m_thread.joinable())
                m_thread.join();
            m_job.reset();
            if (error.isEmpty())
                emit finished(serials);
            else
                emit failed(error);
        },
        Qt::QueuedConnection);
}
