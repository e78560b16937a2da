#include "Output.h"

#include "OutFile.h"

#include <algorithm>
#include <string.h>

namespace {

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

} // namespace

bool WriteCsv(const std::wstring& path, std::vector<Row>& rows, DWORD& error) {
    std::sort(rows.begin(), rows.end(), ActionThenName);
    OutFile out(path);
    // The byte-order mark tells Excel that the file is UTF-8.
    out.Put("\xEF\xBB\xBF"
            "machine,status,meaning,last_run,reason,action,cause\r\n");
    for (const Row& row : rows) {
        const Verdict& v = row.verdict;
        out.Put(CsvField(GuardFormula(row.name)) + "," + CsvField(v.status) + "," +
                CsvField(v.meaning) + "," + CsvField(row.lastRun) + "," +
                CsvField(GuardFormula(v.reason)) + "," + ActionWord(ActionOf(v.cause)) + "," +
                CsvField(GuardFormula(v.sentence)) + "\r\n");
    }
    return out.Commit(error);
}
