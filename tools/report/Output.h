// report.csv, for a spreadsheet and for scripts: UTF-8 with a byte-order
// mark, one row per machine.
#pragma once

#include "Machines.h"

#include <windows.h>
#include <string>
#include <vector>

// Writes the file at path (extended-length form), replacing it only once it
// is complete; rows sorted by action, cause, then machine. False with the
// platform's error code.
bool WriteCsv(const std::wstring& path, std::vector<Row>& rows, DWORD& error);
