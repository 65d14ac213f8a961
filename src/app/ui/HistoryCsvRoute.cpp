#include "app/ui/HistoryCsvRoute.h"

#include "base/KalvexError.h"
#include "history/HistoryCsv.h"
#include "sensors/KalvexConfig.h"

#include <QHash>

namespace historycsv {
namespace {

class CsvReplyStream final : public ReplyStream
{
public:
    explicit CsvReplyStream(std::unique_ptr<history::CsvExport> csv) : m_csv(std::move(csv)) {}
    bool next(QByteArray &out, qsizetype wanted) override { return m_csv->next(out, wanted); }
    void cancel() override { m_csv->cancel(); }

private:
    std::unique_ptr<history::CsvExport> m_csv;
};

StreamedReply refusal(int status, const QString &reason)
{
    StreamedReply reply;
    reply.head.status = status;
    reply.head.contentType = QByteArrayLiteral("text/plain; charset=utf-8");
    reply.head.body = reason.toUtf8() + '\n';
    return reply;
}

// The first sensor record with the serial names it, as NameBySerial does.
history::CsvExport::NameOf namesOf(QHash<QString, QString> names)
{
    return [names = std::move(names)](const QString &serial) { return names.value(serial); };
}

} // namespace

StreamHandler webHandler(QString storePath)
{
    return [storePath = std::move(storePath)](const QueryPairs &query, const WebSnapshot &state) {
        QString reason;
        std::optional<history::CsvRequest> request = history::csvRequest(query, reason);
        if (!request)
            return refusal(400, reason);
        QHash<QString, QString> names;
        for (const WebSnapshot::Slot &slot : state.items) {
            const QString serial = QString::fromUtf8(slot.SN);
            if (slot.inUse && !names.contains(serial))
                names.insert(serial, QString::fromUtf8(slot.name));
        }
        auto csv = std::make_unique<history::CsvExport>(storePath, *request, namesOf(std::move(names)));
        if (!csv->open(reason))
            return refusal(503, QStringLiteral("хранилище не читается: ") + reason);
        StreamedReply reply;
        reply.head.contentType = ContentType;
        reply.stream = std::make_unique<CsvReplyStream>(std::move(csv));
        return reply;
    };
}

int exportCsv(const QString &storePath, const QString &iniPath, const QStringList &arguments, std::FILE *out,
              std::FILE *err)
{
    if (arguments.size() != 3) {
        std::fputs("kalvex: --export-csv FROM TO LEVEL: нужны три значения (ГГГГ-ММ-ДД ГГГГ-ММ-ДД second|minute|hour|day|month|year)\n",
                   err);
        return 2;
    }
    QString reason;
    const std::optional<history::CsvRequest> request
        = history::csvRequest({{"from", arguments.at(0).toUtf8()}, {"to", arguments.at(1).toUtf8()},
                               {"level", arguments.at(2).toUtf8()}},
                              reason);
    if (!request) {
        std::fprintf(err, "kalvex: --export-csv: %s\n", qUtf8Printable(reason));
        return 2;
    }
    QHash<QString, QString> names;
    for (const SensorConfig &sensor : loadConfig(iniPath).Items) {
        const QString serial = sensor.SN.left(16);
        if (!names.contains(serial))
            names.insert(serial, sensor.Name);
    }
    history::CsvExport csv(storePath, *request, namesOf(std::move(names)));
    if (!csv.open(reason)) {
        std::fprintf(err, "kalvex: %s: %s\n", qUtf8Printable(storePath), qUtf8Printable(reason));
        return 1;
    }
    QByteArray part;
    try {
        bool more = true;
        while (more) {
            part.clear();
            more = csv.next(part, 256 * 1024);
            if (std::fwrite(part.constData(), 1, static_cast<std::size_t>(part.size()), out)
                != static_cast<std::size_t>(part.size()))
                throw KalvexError(QStringLiteral("не удалось записать вывод"));
        }
    } catch (const KalvexError &e) {
        std::fprintf(err, "kalvex: %s: %s\n", qUtf8Printable(storePath), qUtf8Printable(e.message()));
        return 1;
    }
    return std::fflush(out) == 0 ? 0 : 1;
}

} // namespace historycsv
