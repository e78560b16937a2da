// The report's two files: report.csv for a spreadsheet and report.html for a
// browser, both UTF-8 (the log texts are converted from code page 932).
#pragma once

#include "Machines.h"

#include <windows.h>
#include <stddef.h>
#include <string>
#include <vector>

// A status and how many rows have it: first is one of them.
struct StatusCount {
    const Row* first;
    size_t count;
};
// The statuses of rows sorted so that each status's rows are together.
std::vector<StatusCount> CountStatuses(const std::vector<Row>& sorted);

// Code page 932 text as UTF-8; control characters but the line break and the
// tab become U+FFFD, since they have no place in a cell or a page.
std::string ToUtf8(const std::string& text);

// Writes the file at path (replacing it only once it is complete), rows
// sorted by status, then machine. False with the platform's error code.
bool WriteCsv(const std::string& path, std::vector<Row>& rows, DWORD& error);
// Writes the page: the counts as a bar, then the rows, failures first.
// logs names the folder read, made the time of the report.
bool WriteHtml(const std::string& path, const std::string& logs, const std::string& made,
               std::vector<Row>& rows, DWORD& error);
