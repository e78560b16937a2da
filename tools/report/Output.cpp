#include "Output.h"

#include "OutFile.h"

#include <algorithm>
#include <string.h>

namespace {

// One field: RFC 4180 quoting for a comma, a quote or a line break (a quote
// in it doubled); a field that Excel would run as a formula gets a quote in
// front (a run stopped right after its start banner has "=====" as its
// reason). Written piece by piece: no copy of the text is made.
void PutField(OutFile& out, const std::string& text, bool guard) {
    const bool quoted = text.find_first_of(",\"\r\n") != std::string::npos;
    if (quoted)
        out.Put("\"", 1);
    if (guard && !text.empty() && strchr("=+-@", text[0]) != nullptr)
        out.Put("'", 1);
    size_t from = 0;
    for (size_t at = text.find('"'); quoted && at != std::string::npos;
         at = text.find('"', at + 1)) {
        out.Put(text.data() + from, at + 1 - from);
        out.Put("\"", 1);
        from = at + 1;
    }
    out.Put(text.data() + from, text.size() - from);
    if (quoted)
        out.Put("\"", 1);
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
        PutField(out, row.name, true);
        out.Put(",");
        PutField(out, v.status, false);
        out.Put(",");
        PutField(out, v.meaning, false);
        out.Put(",");
        PutField(out, row.lastRun, false);
        out.Put(",");
        PutField(out, v.reason, true);
        out.Put(",");
        out.Put(ActionWord(ActionOf(v.cause)));
        out.Put(",");
        PutField(out, v.sentence, true);
        out.Put("\r\n");
    }
    return out.Commit(error);
}
