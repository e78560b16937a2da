// The machines of a logs folder that update-startup.cmd fills: one row per
// computer name of a *.log or *.result file, with what its files say.
#pragma once

#include "LastRun.h"

#include <windows.h>
#include <string>
#include <vector>

struct Machine {
    std::string name; // from the file name, code page 932
    FoundFile log;    // NAME.log
    FoundFile backup; // NAME.log.BAK, the log's older generation
    FoundFile result; // NAME.result
};

// Lists the machines of an absolute folder path, sorted by name without
// regard to letter case (as Windows compares computer names). False with the
// platform's error code when the folder cannot be listed.
bool ListMachines(const std::string& folder, std::vector<Machine>& machines, DWORD& error);

// What a row's status column says.
enum class StatusKind { Exit, NoResult, Unreadable };

// The reason of a machine whose files cannot be read or make no sense.
extern const char kUnreadableLog[];

struct Row {
    std::string name;
    StatusKind kind = StatusKind::Exit;
    long status = 0;     // for StatusKind::Exit
    std::string lastRun; // "YYYY/MM/DD hh:mm:ss" of the last start, or empty
    std::string reason;  // code page 932
};

// Reads the machine's files into its row.
Row Examine(const Machine& machine);

// How a status reads: "1", "no result", "unreadable".
std::string StatusText(const Row& row);
// Its meaning, as the exit status table of Update.exe's README says.
std::string Meaning(const Row& row);
// Both for a legend: "1 update failed", "no result (still running or
// stopped)".
std::string StatusLabel(const Row& row);
// The colour of the status in the report's bar, "#rrggbb".
const char* StatusColour(const Row& row);

// Whether a comes before b in the report: by status (exit statuses in
// order, then "no result", then "unreadable"), then by machine name.
bool StatusThenName(const Row& a, const Row& b);
// The same with the rows that need a look first: failures, unfinished runs,
// runs to retry, machines not concerned, and the updated ones last.
bool FailuresFirst(const Row& a, const Row& b);
// Whether two rows count under one status.
bool SameStatus(const Row& a, const Row& b);
