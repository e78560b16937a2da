#include "Output.h"

#include "LongPath.h"
#include "Owners.h"

#include <algorithm>
#include <stdio.h>
#include <string.h>

namespace {

constexpr UINT kLogCodePage = 932;
constexpr size_t kWriteBuffer = 64 * 1024;

// A file written through a buffer as PATH.partial and put in place by
// Commit, so that a report that fails half way leaves the last one whole.
class OutFile {
  public:
    explicit OutFile(const std::string& path) : path_(path), partial_(path + ".partial") {
        file_.Attach(CreateFileLong(partial_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_.IsValid())
            error_ = GetLastError();
    }
    ~OutFile() {
        if (file_.IsValid()) {
            file_.Close();
            DeleteFileLong(partial_.c_str());
        }
    }
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    void Put(const char* text, size_t length) {
        if (buffer_.size() + length > kWriteBuffer)
            Flush();
        buffer_.append(text, length);
    }
    void Put(const std::string& text) { Put(text.data(), text.size()); }
    void Put(const char* text) { Put(text, strlen(text)); }

    bool Commit(DWORD& error) {
        Flush();
        if (error_ == 0 && !file_.Close())
            error_ = GetLastError();
        if (error_ == 0 && !MoveFileExLong(partial_.c_str(), path_.c_str(),
                                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            error_ = GetLastError();
        if (error_ != 0) {
            file_.Close();
            DeleteFileLong(partial_.c_str());
        }
        error = error_;
        return error_ == 0;
    }

  private:
    void Flush() {
        const char* at = buffer_.data();
        size_t left = buffer_.size();
        while (error_ == 0 && left > 0) {
            DWORD written = 0;
            if (!WriteFile(file_.Get(), at, static_cast<DWORD>(left), &written, nullptr) ||
                written == 0) {
                error_ = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
                break;
            }
            at += written;
            left -= written;
        }
        buffer_.clear();
    }

    std::string path_;
    std::string partial_;
    UniqueHandle file_;
    std::string buffer_;
    DWORD error_ = 0;
};

bool Convert(UINT codePage, const std::string& text, std::wstring& wide) {
    const int n =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0)
        return false;
    wide.assign(static_cast<size_t>(n), L'\0');
    return MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                               n) == n;
}

// Excel runs a cell that starts like a formula; a quote in front makes it
// text. A run stopped right after its start banner has "=====" as its reason.
std::string GuardFormula(const std::string& text) {
    if (!text.empty() && strchr("=+-@", text[0]) != nullptr)
        return "'" + text;
    return text;
}

// RFC 4180: a field with a comma, a quote or a line break is quoted, and a
// quote in it doubled.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string Html(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        case '\n':
            out += "<br>";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string Number(size_t n) {
    char text[32];
    snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(n));
    return text;
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
    "p.about { color: #555; margin: 0 0 12px 0; }\r\n"
    "table.bar { width: 100%; table-layout: fixed; border-collapse: collapse;"
    " margin: 0 0 6px 0; }\r\n"
    "table.bar td { height: 26px; padding: 0; color: #fff; font-weight: bold;"
    " text-align: center; white-space: nowrap; overflow: hidden; }\r\n"
    "ul.legend { list-style: none; margin: 0 0 16px 0; padding: 0; }\r\n"
    "ul.legend li { display: inline; margin-right: 18px; white-space: nowrap; }\r\n"
    "table.rows { border-collapse: collapse; }\r\n"
    "table.rows th, table.rows td { border: 1px solid #bbb; padding: 3px 6px;"
    " text-align: left; vertical-align: top; }\r\n"
    "table.rows th { background: #e8e8e8; }\r\n"
    "td.status { text-align: right; white-space: nowrap; }\r\n"
    "td.time { white-space: nowrap; }\r\n"
    "</style>\r\n</head>\r\n<body>\r\n";

} // namespace

std::vector<StatusCount> CountStatuses(const std::vector<Row>& sorted) {
    std::vector<StatusCount> counts;
    for (const Row& row : sorted) {
        if (counts.empty() || !SameStatus(*counts.back().first, row))
            counts.push_back(StatusCount{&row, 0});
        ++counts.back().count;
    }
    return counts;
}

std::string ToUtf8(const std::string& text) {
    std::wstring wide;
    if (!Convert(kLogCodePage, text, wide) && !Convert(CP_ACP, text, wide)) {
        // Without either code page: ASCII, and a replacement for the rest.
        wide.clear();
        for (char c : text)
            wide += static_cast<unsigned char>(c) < 0x80 ? static_cast<wchar_t>(c) : L'\xFFFD';
    }
    for (wchar_t& c : wide) {
        if ((c < 0x20 && c != L'\n' && c != L'\t') || c == 0x7F)
            c = L'\xFFFD';
    }
    if (wide.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], n,
                        nullptr, nullptr);
    return utf8;
}

bool WriteCsv(const std::string& path, std::vector<Row>& rows, DWORD& error) {
    std::sort(rows.begin(), rows.end(), StatusThenName);
    OutFile out(path);
    // The byte-order mark tells Excel that the file is UTF-8.
    out.Put("\xEF\xBB\xBF"
            "machine,status,meaning,last_run,reason\r\n");
    for (const Row& row : rows) {
        out.Put(CsvField(GuardFormula(ToUtf8(row.name))) + "," + CsvField(StatusText(row)) + "," +
                CsvField(Meaning(row)) + "," + CsvField(row.lastRun) + "," +
                CsvField(GuardFormula(ToUtf8(row.reason))) + "\r\n");
    }
    return out.Commit(error);
}

bool WriteHtml(const std::string& path, const std::string& logs, const std::string& made,
               std::vector<Row>& rows, DWORD& error) {
    std::sort(rows.begin(), rows.end(), FailuresFirst);
    const std::vector<StatusCount> counts = CountStatuses(rows);
    OutFile out(path);
    out.Put(kPageHead);
    out.Put("<h1>Update.exe rollout report</h1>\r\n<p class=\"about\">" + Number(rows.size()) +
            " machines in " + Html(ToUtf8(logs)) + ", " + Html(made) + "</p>\r\n");

    // One segment per status, as wide as its share; a tiny share still shows.
    out.Put("<table class=\"bar\"><tr>\r\n");
    for (const StatusCount& c : counts) {
        const size_t permille = std::max<size_t>(c.count * 1000 / rows.size(), 5);
        char style[96];
        snprintf(style, sizeof style, "width: %lu.%lu%%; background: %s",
                 static_cast<unsigned long>(permille / 10),
                 static_cast<unsigned long>(permille % 10), StatusColour(*c.first));
        out.Put("<td style=\"" + std::string(style) + "\" title=\"" + Html(StatusLabel(*c.first)) +
                ": " + Number(c.count) + "\">" + Number(c.count) + "</td>\r\n");
    }
    out.Put("</tr></table>\r\n<ul class=\"legend\">\r\n");
    for (const StatusCount& c : counts) {
        out.Put(std::string("<li><span style=\"color: ") + StatusColour(*c.first) +
                "\">&#9632;</span> " + Html(StatusLabel(*c.first)) + ": " + Number(c.count) +
                "</li>\r\n");
    }
    out.Put("</ul>\r\n<table class=\"rows\">\r\n<tr><th>Machine</th><th>Status</th>"
            "<th>Meaning</th><th>Last run</th><th>Reason</th></tr>\r\n");
    for (const Row& row : rows) {
        out.Put(std::string("<tr><td>") + Html(ToUtf8(row.name)) +
                "</td><td class=\"status\"><span style=\"color: " + StatusColour(row) +
                "\">&#9632;</span> " + Html(StatusText(row)) + "</td><td>" + Html(Meaning(row)) +
                "</td><td class=\"time\">" + Html(row.lastRun) + "</td><td>" +
                Html(ToUtf8(row.reason)) + "</td></tr>\r\n");
    }
    out.Put("</table>\r\n</body>\r\n</html>\r\n");
    return out.Commit(error);
}
