// Any machine of the house's network may send the web server anything. The input is the
// text of one request; its request line goes the way the server takes it (the query string
// cut off and the path's percent escapes decoded by libmicrohttpd, as the server's handler
// receives it) into the real request handler and reply builder, against a fixed snapshot.
// Nothing may crash or leak; every reply is one the page can give: the background file and
// no other, the thermometer picture, a sensor query's answer, or one of the three pages,
// with nothing of the request echoed into it.

#include "web/WebPage.h"
#include "web/WebSnapshot.h"

#include <QByteArray>

#include <microhttpd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_http: %s\n", what);
    std::abort();
}

WebSnapshot makeSnapshot()
{
    WebSnapshot s;
    s.items.push_back({"28A2D984000002EA", true, 340, 120, "21,5", "09.12.2026 12:00:00"});
    s.items.push_back({"108739A80208006F", false, 610, 40, "-3,5", "09.12.2026 11:59:50"});
    s.items.push_back({"", true, 1, 1, "", ""}); // a sensor without a serial number
    s.items.push_back({"2825EA52050000CE", true, 20, 700, "\xCE\xF8\xE8\xE1\xEA\xE0", ""}); // a caption in Windows-1251
    std::vector<QByteArray> header{"\xC8\xEC\xFF"}; // "Имя"
    for (int h = 0; h < 24; ++h)
        header.push_back(QByteArray::number(h));
    std::vector<QByteArray> row{"\xC3\xEE\xF1\xF2\xE8\xED\xE0\xFF"}; // "Гостиная"
    for (int h = 0; h < 24; ++h)
        row.push_back(h % 3 ? QByteArray("21,4") : QByteArray());
    s.hours = {header, row, {"short row"}};
    // What /metrics shows: names to escape, a reading, failures.
    const QByteArray names[] = {"\xD0\x9A\xD1\x83\xD1\x85\xD0\xBD\xD1\x8F \"1\"", "\\", "a\nb", "x"};
    for (std::size_t i = 0; i < s.items.size(); ++i) {
        s.items[i].inUse = true;
        s.items[i].name = names[i % 4];
        s.items[i].failures = i * 3;
    }
    s.items[0].hasReading = true;
    s.items[0].reading = 21.5625;
    s.items[0].readingMs = 1765281600000;
    s.cycleSeconds = 7.625;
    s.backgroundName = "bk.jpg";
    s.backgroundNameText = "bk.jpg";
    s.backgroundPath = QStringLiteral("pictures/bk.jpg");
    return s;
}

const WebSnapshot &snapshot()
{
    static const WebSnapshot s = makeSnapshot();
    return s;
}

// The path as the server's handler receives it from libmicrohttpd.
QByteArray handlerPath(const QByteArray &target)
{
    std::string url = target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?')).toStdString();
    url.resize(MHD_http_unescape(url.data()));
    return QByteArray(url.c_str()); // a decoded NUL ends the C text the handler is given
}

bool isSensorAnswer(const QByteArray &body)
{
    if (body == "no" || body == "off")
        return true;
    for (const WebSnapshot::Slot &slot : snapshot().items) {
        if (slot.Enable && body == slot.caption + '|' + slot.lastTime)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    qsizetype end = text.indexOf('\n');
    if (end < 0)
        end = text.size();
    const QByteArray line = text.left(end).trimmed();
    const qsizetype space = line.indexOf(' ');
    const QByteArray method = space < 0 ? line : line.left(space);
    QByteArray target = space < 0 ? QByteArray("/") : line.mid(space + 1);
    if (const qsizetype version = target.indexOf(' '); version >= 0)
        target.truncate(version);

    const WebRequest request{method, handlerPath(target)};
    const WebReply reply = web::IdHTTPServer1CommandGet(request, snapshot());

    static const QByteArray pages[] = {
        web::page(snapshot(), "noimg"),
        web::page(snapshot(), "notable"),
        web::page(snapshot(), ""),
    };
    if (reply.status != 200)
        fail("a reply with a status the handler never gives");
    if (!reply.file.isEmpty()) {
        if (reply.file != snapshot().backgroundPath || !reply.body.isEmpty())
            fail("a reply names a file other than the background");
        return 0;
    }
    if (reply.contentType == "image/png") {
        if (reply.body != web::thermometerPng())
            fail("a picture reply that is not the thermometer");
        return 0;
    }
    if (reply.contentType == web::MetricsContentType) {
        if (request.path != web::MetricsPath || reply.body != web::metrics(snapshot(), request.nowMs))
            fail("metrics for a path other than the metrics path, or other metrics");
        return 0;
    }
    if (reply.contentType != "text/html")
        fail("a reply of an unknown content type");
    if (web::dispatchPath(request.path).startsWith("sn=")) {
        if (!isSensorAnswer(reply.body))
            fail("a sensor query answered with something other than a reading, off or no");
        return 0;
    }
    for (const QByteArray &page : pages) {
        if (reply.body == page)
            return 0;
    }
    fail("a page other than the three the snapshot gives");
}
