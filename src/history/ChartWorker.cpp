#include "history/ChartWorker.h"

#include "base/KalvexError.h"
#include "history/TADOQuery.h"

#include <QMetaObject>

ChartWorker::ChartWorker(QObject *parent)
    : QObject(parent)
{
}

ChartWorker::~ChartWorker()
{
    cancel();
}

void ChartWorker::cancel()
{
    if (m_job)
        m_job->cancelled = true;
    if (m_thread.joinable())
        m_thread.join();
    m_job.reset();
}

void ChartWorker::start(const QString &path, const history::ChartRequest &request)
{
    cancel();
    m_job = std::make_shared<Job>();
    m_thread = std::thread(&ChartWorker::run, this, m_job, path, request);
}

void ChartWorker::done(const std::shared_ptr<Job> &job)
{
    // The thread has posted its last word; joined here so that no finished thread waits for the
    // next start or the destructor.
    if (job == m_job && m_thread.joinable())
        m_thread.join();
    if (job == m_job)
        m_job.reset();
}

void ChartWorker::run(std::shared_ptr<Job> job, QString path, history::ChartRequest request)
{
    // Everything posted back checks that its job is still the current one: a cancelled chart's
    // late events fall through.
    const auto post = [this, job](auto &&deliver) {
        QMetaObject::invokeMethod(
            this,
            [this, job, deliver = std::forward<decltype(deliver)>(deliver)]() mutable {
                if (job == m_job && !job->cancelled)
                    deliver();
            },
            Qt::QueuedConnection);
    };
    std::vector<history::ChartLine> lines;
    QString error;
    {
        TADOQuery query;
        query.setInterruptCheck([job] { return job->cancelled.load(std::memory_order_relaxed); });
        query.setConnectionString(path);
        int maximum = 0;
        int shown = -1;
        history::ChartProgress progress;
        progress.maximum = [&](int rows) {
            maximum = rows;
            post([this, rows] { emit this->progress(0, rows); });
        };
        // About a hundred steps, so the window thread is not flooded.
        progress.position = [&](int row) {
            const int step = maximum > 0 ? static_cast<int>(static_cast<qint64>(row) * 100 / maximum) : 0;
            if (step != shown) {
                shown = step;
                post([this, row, max = maximum] { emit this->progress(row, max); });
            }
        };
        post([this] { emit this->progress(0, 0); });
        try {
            lines = history::queryChart(query, request, progress);
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
        [this, job, lines = std::move(lines), error]() {
            if (job != m_job || job->cancelled)
                return;
            done(job);
            if (error.isEmpty())
                emit finished(lines);
            else
                emit failed(error);
        },
        Qt::QueuedConnection);
}
