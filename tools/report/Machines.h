// The machines of a rollout: one row per computer name of a *.log or
// *.result file in the logs folder that update-startup.cmd fills, and per
// name on the list of targets, with what its files say.
#pragma once

#include "Causes.h"
#include "LastRun.h"

#include <windows.h>
#include <string>
#include <vector>

struct Machine {
    std::wstring name; // from the file name, or from the list of targets
    FoundFile log;     // NAME.log
    FoundFile backup;  // NAME.log.BAK, the log's older generation
    FoundFile result;  // NAME.result
};

// Lists the machines of an absolute folder path, and adds those of targets
// that have no file there; sorted by name without regard to letter case (as
// Windows compares computer names). False with the platform's error code
// when the folder cannot be listed.
bool ListMachines(const std::wstring& folder, const std::vector<std::wstring>& targets,
                  std::vector<Machine>& machines, DWORD& error);

struct Row {
    std::string name;    // UTF-8
    std::wstring key;    // the name in upper case, for the order
    std::string logFile; // "NAME.log" (UTF-8) when there is one, for a link
    std::string lastRun; // "YYYY/MM/DD hh:mm:ss" of the last start, or empty
    std::string ended;   // the time of its closing record, or empty
    bool sample = false; // that run's build carries the sample payload
    Verdict verdict;
};

// Reads the machine's files into its row. A run without a closing record
// whose log was last written before staleBefore (UTC) counts as interrupted.
Row Examine(const Machine& machine, const FILETIME& staleBefore, ReadBuffers& buffers);

// Whether a comes before b: by action, then by cause, then by name.
bool ActionThenName(const Row& a, const Row& b);
