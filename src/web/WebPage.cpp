#include "web/WebPage.h"

#include "web/Cp1251.h"

#include <QFile>

// Outside every namespace: the resource's registration function is declared in the global one.
static void initWebResources()
{
    Q_INIT_RESOURCE(web);
}

namespace {

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

char asciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

QByteArray upper(const QByteArray &text)
{
    QByteArray result = text;
    for (char &c : result)
        c = asciiUpper(c);
    return result;
}

// Text inside a double-quoted attribute: what would end it or start markup as entities.
void appendAttributeText(QByteArray &out, const QByteArray &text)
{
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
}

// Page texts that are not ASCII, in the page's code page, made once.
struct PageTexts
{
    QByteArray tableTitle = cp1251::fromText(
        QStringLiteral("<div style=\"color:#B0B000; text-align:left;\">Среднечасовая температура за сутки:</div>\n"));
    QByteArray nameHeader = cp1251::fromText(QStringLiteral("<tr class=\"tth\"><th width=\"100\">Имя</th>"));
    QByteArray degreeCell = cp1251::fromText(QStringLiteral("°</td><td width=\"18\"><img src=\"t.png\" title=\""));
};

const PageTexts &texts()
{
    static const PageTexts t;
    return t;
}

constexpr int HourColumns = 24;

} // namespace

QByteArray web::dispatchPath(const QByteArray &path)
{
    QByteArray p = path.startsWith('/') ? path.mid(1) : path;
    for (char &c : p)
        c = asciiLower(c);
    return p;
}

WebReply web::IdHTTPServer1CommandGet(const WebRequest &request, const WebSnapshot &state)
{
    WebReply reply;
    // Exactly this path, as scrapers ask for it; every other one keeps the page's dispatch.
    if (request.path == MetricsPath) {
        reply.contentType = MetricsContentType;
        reply.body = metrics(state, request.nowMs);
        return reply;
    }
    const QByteArray P = dispatchPath(request.path);
    // An empty background name would take the root path: the root gives the page then.
    if (!state.backgroundName.isEmpty() && P == state.backgroundName) {
        reply.file = state.backgroundPath;
        return reply;
    }
    if (P.startsWith("sn=")) {
        const QByteArray Q = upper(P.mid(3));
        reply.body = QByteArrayLiteral("no");
        for (const WebSnapshot::Slot &slot : state.items) {
            if (upper(slot.SN) != Q)
                continue;
            reply.body = slot.Enable ? slot.caption + '|' + slot.lastTime : QByteArrayLiteral("off");
            break;
        }
        return reply;
    }
    if (P.endsWith("png") || P.endsWith("jpg")) {
        reply.contentType = QByteArrayLiteral("image/png");
        reply.body = thermometerPng();
        return reply;
    }
    reply.body = page(state, P);
    return reply;
}

QByteArray web::GetHTMLImgs(const WebSnapshot &state, const QByteArray &Mode)
{
    QByteArray s;
    if (Mode == "noimg")
        return s;
    s.reserve(200 + 220 * static_cast<qsizetype>(state.items.size()));
    s += "<div style=\"position:absolute; top:0; left:0; z-index:0;\"><img src=\"";
    s += state.backgroundNameText;
    s += "\"></div>\n";
    const QByteArray &degree = texts().degreeCell;
    for (std::size_t i = 0; i < state.items.size(); ++i) {
        const WebSnapshot::Slot &slot = state.items[i];
        if (!slot.Enable)
            continue;
        s += "<div style=\"position:absolute; top:";
        s += QByteArray::number(slot.top - 1);
        s += "; left:";
        s += QByteArray::number(slot.left - 43);
        s += "; z-index:";
        s += QByteArray::number(static_cast<qulonglong>(i) + 1);
        s += ";\"><table width=\"60\" cellpadding=\"0\" cellspacing=\"0\"><tr><td class=\"txt\">";
        s += slot.caption;
        s += degree;
        s += slot.lastTime;
        // With several buses the tip says which one the sensor hangs on.
        if (!slot.busText.isEmpty()) {
            s += " (";
            appendAttributeText(s, slot.busText);
            s += ')';
        }
        s += "\"></td></tr></table></div>\n";
    }
    return s;
}

QByteArray web::GetHTMLTable(const WebSnapshot &state, const QByteArray &Mode)
{
    QByteArray s;
    if (Mode == "notable")
        return s;
    qsizetype size = 600;
    for (const auto &row : state.hours) {
        for (const QByteArray &cell : row)
            size += cell.size() + 16;
    }
    s.reserve(size);
    s += Mode == "noimg" ? "<div style=\"position:absolute; top:20; left:5; z-index:998;\">\n"
                         : "<div style=\"position:absolute; top:820; left:5; z-index:998;\">\n";
    s += texts().tableTitle;
    s += "<table border=\"1\" cellpadding=\"0\" cellspacing=\"0\">\n";
    s += texts().nameHeader;
    const auto cell = [&state](int col, std::size_t row) -> const QByteArray & {
        static const QByteArray none;
        if (row >= state.hours.size() || col >= static_cast<int>(state.hours[row].size()))
            return none;
        return state.hours[row][static_cast<std::size_t>(col)];
    };
    for (int col = 1; col <= HourColumns; ++col) {
        s += "<th width=\"40\">";
        s += cell(col, 0);
        s += "</th>";
    }
    s += "</tr>";
    for (std::size_t row = 1; row < state.hours.size(); ++row) {
        s += "<tr class=\"ttr\"><td align=\"left\">";
        s += cell(0, row);
        s += "</td>";
        for (int col = 1; col <= HourColumns; ++col) {
            const QByteArray &value = cell(col, row);
            if (value.isEmpty()) {
                s += "<td>&nbsp;</td>";
            } else {
                s += "<td>";
                s += value;
                s += "</td>";
            }
        }
        s += "</tr>\n";
    }
    s += "</table></div>\n";
    return s;
}

QByteArray web::page(const WebSnapshot &state, const QByteArray &Mode)
{
    const QByteArray images = GetHTMLImgs(state, Mode);
    const QByteArray table = GetHTMLTable(state, Mode);
    QByteArray s;
    s.reserve(images.size() + table.size() + 900);
    s += "<html><title>Kalvex</title>\n"
         "<style>\n"
         " .txt {font-family:Tahoma; font-size:12px; color:#FFFF00; font-weight:bold; text-align:right;}\n"
         " .tth {font-family:Tahoma; font-size:12px; color:#B0B000; font-weight:bold; text-align:center;}\n"
         " .ttr {font-family:Tahoma; font-size:12px; color:#FFFF00; font-weight:bold; text-align:center;}\n"
         "</style>\n"
         "<body bgcolor=\"#0\" class=\"txt\"></body>\n";
    s += images;
    s += table;
    s += "<div style=\"position:absolute; top:0; left:0; z-index:999;\"><a href=\"";
    s += ProductSite;
    s += "\" target=\"_blank\" style=\"color:#6666FF; text-decoration:none;\">Kalvex v";
    s += state.version;
    s += "</a></div></html>";
    return s;
}

const QByteArray &web::thermometerPng()
{
    static const QByteArray png = [] {
        initWebResources();
        QFile file(QStringLiteral(":/kalvex/web/t.png"));
        if (!file.open(QIODevice::ReadOnly))
            qFatal("Kalvex: the thermometer picture is missing from the resources");
        return file.readAll();
    }();
    return png;
}
