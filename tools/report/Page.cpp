#include "Page.h"

#include "OutFile.h"

#include <algorithm>
#include <stdio.h>

namespace {

const struct {
    const char* colour;
    const char* says;
} kActionLooks[kActions] = {
    {"#b03a2e", "a person must act"},
    {"#b9770e", "clears by itself at the next start"},
    {"#2471a3", "running, or not reported yet"},
    {"#707b7c", "product not installed"},
    {"#1e8449", "nothing to do"},
};

const char* Entity(char c) {
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    case '\'':
        return "&#39;";
    case '\n':
        return "<br>";
    }
    return nullptr;
}

// Text on the page, escaped as it is written: no copy of it is made.
void PutHtml(OutFile& out, const std::string& text) {
    size_t from = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char* entity = Entity(text[i]);
        if (entity == nullptr)
            continue;
        out.Put(text.data() + from, i - from);
        out.Put(entity);
        from = i + 1;
    }
    out.Put(text.data() + from, text.size() - from);
}

std::string Html(const std::string& text) {
    std::string out;
    for (char c : text) {
        const char* entity = Entity(c);
        if (entity != nullptr)
            out += entity;
        else
            out += c;
    }
    return out;
}

std::string Number(size_t n) {
    char text[32];
    snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(n));
    return text;
}

std::string Percent(size_t n, size_t total) {
    const size_t permille = total == 0 ? 0 : (n * 1000 + total / 2) / total;
    char text[32];
    snprintf(text, sizeof text, "%lu.%lu%%", static_cast<unsigned long>(permille / 10),
             static_cast<unsigned long>(permille % 10));
    return text;
}

std::string ActionTag(Action action) {
    return std::string("<span class=\"tag ") + ActionWord(action) + "\">" + ActionWord(action) +
           "</span>";
}

const char kPageHead[] =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\" "
    "\"http://www.w3.org/TR/html4/strict.dtd\">\r\n"
    "<html lang=\"ja\">\r\n<head>\r\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n"
    "<title>Update.exe rollout report</title>\r\n"
    "<style type=\"text/css\">\r\n"
    "body { font-family: Meiryo, \"MS PGothic\", sans-serif; font-size: 13px; color: #222;"
    " margin: 16px; }\r\n"
    "h1 { font-size: 20px; margin: 0 0 4px 0; }\r\n"
    "h2 { font-size: 15px; margin: 18px 0 6px 0; }\r\n"
    "p.about { color: #555; margin: 0 0 12px 0; }\r\n"
    // An automatic layout: a segment is never narrower than its count.
    "table.bar { width: 100%; border-collapse: collapse; margin: 0 0 6px 0; }\r\n"
    "table.bar td { height: 26px; padding: 0 6px; color: #fff; font-weight: bold;"
    " text-align: center; white-space: nowrap; }\r\n"
    "ul.legend { list-style: none; margin: 0 0 8px 0; padding: 0; }\r\n"
    "ul.legend li { display: inline; margin-right: 18px; white-space: nowrap; }\r\n"
    "span.tag { color: #fff; font-weight: bold; padding: 0 4px; white-space: nowrap; }\r\n"
    "span.sample { color: #7d3c98; border: 1px solid #7d3c98; padding: 0 3px;"
    " white-space: nowrap; }\r\n"
    "table.rows, table.causes { border-collapse: collapse; }\r\n"
    "table.rows th, table.rows td, table.causes th, table.causes td { border: 1px solid #bbb;"
    " padding: 3px 6px; text-align: left; vertical-align: top; }\r\n"
    "table.rows th, table.causes th { background: #e8e8e8; }\r\n"
    "td.n { text-align: right; }\r\n"
    "td.time { white-space: nowrap; }\r\n";

// A group of rows with one cause.
struct Group {
    Cause cause;
    size_t first;
    size_t count;
};

// Groups by action, the larger first within one, then by cause.
bool GroupOrder(const Group& a, const Group& b) {
    const Action aa = ActionOf(a.cause), ab = ActionOf(b.cause);
    if (aa != ab)
        return aa < ab;
    return a.count != b.count ? a.count > b.count : a.cause < b.cause;
}

void PutRow(OutFile& out, const PageFacts& facts, const Row& row) {
    const Verdict& v = row.verdict;
    out.Put("<tr><td>");
    if (!row.logFile.empty()) {
        out.Put("<a href=\"");
        PutHtml(out, facts.logsUrl);
        PutHtml(out, UrlEscape(row.logFile));
        out.Put("\">");
    }
    PutHtml(out, row.name);
    if (!row.logFile.empty())
        out.Put("</a>");
    if (row.sample)
        out.Put(" <span class=\"sample\">sample build</span>");
    const std::string* cells[] = {&v.status, &v.sentence, &v.reason, &row.lastRun, &row.ended};
    const char* const opens[] = {"</td><td class=\"n\">", "</td><td>", "</td><td>",
                                 "</td><td class=\"time\">", "</td><td class=\"time\">"};
    for (size_t i = 0; i < sizeof cells / sizeof cells[0]; ++i) {
        out.Put(opens[i]);
        PutHtml(out, *cells[i]);
    }
    out.Put("</td></tr>\r\n");
}

} // namespace

std::string UrlEscape(const std::string& utf8) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : utf8) {
        const unsigned char b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
            b == '-' || b == '.' || b == '_' || b == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

bool WriteHtml(const std::wstring& path, const PageFacts& facts, std::vector<Row>& rows,
               DWORD& error) {
    std::sort(rows.begin(), rows.end(), ActionThenName);
    std::vector<Group> groups;
    size_t actions[kActions] = {};
    for (size_t i = 0; i < rows.size(); ++i) {
        const Cause cause = rows[i].verdict.cause;
        if (groups.empty() || groups.back().cause != cause)
            groups.push_back(Group{cause, i, 0});
        ++groups.back().count;
        ++actions[static_cast<int>(ActionOf(cause))];
    }
    std::sort(groups.begin(), groups.end(), GroupOrder);

    OutFile out(path);
    out.Put(kPageHead);
    for (int a = 0; a < kActions; ++a) {
        out.Put(std::string(".") + ActionWord(static_cast<Action>(a)) +
                " { background: " + kActionLooks[a].colour + "; }\r\n");
    }
    out.Put("</style>\r\n</head>\r\n<body>\r\n<h1>Update.exe rollout report</h1>\r\n"
            "<p class=\"about\">" +
            Number(rows.size()) + " machines in " + Html(facts.logs) + ", " + Html(facts.made) +
            ". A run without its closing record counts as interrupted once its log is older "
            "than " +
            Html(facts.staleAfter) + ".</p>\r\n");

    // One segment per action, as wide as its share, and never narrower than
    // its count.
    out.Put("<table class=\"bar\" summary=\"machines by action\"><tr>\r\n");
    for (int a = 0; a < kActions; ++a) {
        if (actions[a] == 0)
            continue;
        const Action action = static_cast<Action>(a);
        out.Put(std::string("<td class=\"") + ActionWord(action) + "\" style=\"width: " +
                Percent(actions[a], rows.size()) + "\" title=\"" + ActionWord(action) + ": " +
                Number(actions[a]) + "\">" + Number(actions[a]) + "</td>\r\n");
    }
    out.Put("</tr></table>\r\n<ul class=\"legend\">\r\n");
    for (int a = 0; a < kActions; ++a) {
        out.Put("<li>" + ActionTag(static_cast<Action>(a)) + " " + Number(actions[a]) + " (" +
                Percent(actions[a], rows.size()) + "): " + kActionLooks[a].says + "</li>\r\n");
    }
    out.Put("</ul>\r\n<h2>Causes</h2>\r\n<table class=\"causes\">\r\n"
            "<tr><th>Action</th><th>Cause</th><th>Machines</th></tr>\r\n");
    for (const Group& g : groups) {
        out.Put("<tr><td>" + ActionTag(ActionOf(g.cause)) + "</td><td><a href=\"#cause" +
                Number(static_cast<size_t>(g.cause)) + "\">" + CauseTitle(g.cause) +
                "</a></td><td class=\"n\">" + Number(g.count) + "</td></tr>\r\n");
    }
    out.Put("</table>\r\n");

    for (const Group& g : groups) {
        out.Put("<h2 id=\"cause" + Number(static_cast<size_t>(g.cause)) + "\">" +
                ActionTag(ActionOf(g.cause)) + " " + CauseTitle(g.cause) + ": " + Number(g.count) +
                "</h2>\r\n<table class=\"rows\">\r\n<tr><th>Machine</th>"
                "<th>Status</th><th>Cause</th><th>Log record</th><th>Started</th>"
                "<th>Ended</th></tr>\r\n");
        for (size_t i = g.first; i < g.first + g.count; ++i)
            PutRow(out, facts, rows[i]);
        out.Put("</table>\r\n");
    }
    out.Put("</body>\r\n</html>\r\n");
    return out.Commit(error);
}
