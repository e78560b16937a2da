// report.html: one self-contained page in HTML 4.01 and CSS 2 (no scripts,
// nothing fetched) that says what to do next: the machines by action as a
// bar, the causes with their counts, then each cause's machines with a link
// to their logs.
#pragma once

#include "Machines.h"

#include <windows.h>
#include <string>
#include <vector>

struct PageFacts {
    std::string logs;       // the folder read, UTF-8, as shown
    std::string logsUrl;    // the same as a URL relative to the page, ending in '/'
    std::string made;       // when the report was made
    std::string staleAfter; // "1 hour": when a run without an end counts as stopped
};

// Writes the page at path (extended-length form), replacing it only once it
// is complete. False with the platform's error code.
bool WriteHtml(const std::wstring& path, const PageFacts& facts, std::vector<Row>& rows,
               DWORD& error);

// A piece of a URL: every byte but letters, digits and "-._~" as %XX.
std::string UrlEscape(const std::string& utf8);
