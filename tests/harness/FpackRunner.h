// fpack.exe run as a user runs it: from a working folder, with its own
// environment, its output in files or on a console of this process.
#pragma once

#include <string>
#include <vector>

namespace fr {

// Where fpack's stdout and stderr go.
enum class Output { Files, ErrorOnConsole, BothOnConsole };

struct RunOptions {
    std::string folder; // working folder; empty: this process's own
    // "NAME=value" to set, "NAME" to remove. SOURCE_DATE_EPOCH is always
    // removed first, so that the caller's own build settings do not leak in.
    std::vector<std::string> env;
    Output output = Output::Files;
};

struct Result {
    int status = -1;
    std::string out;     // stdout, when in a file
    std::string err;     // stderr, when in a file
    std::string console; // the console's rows, trimmed, each ending in "\n"
};

// Runs fpack with the arguments; the status is -1 when it could not start or
// did not end within two minutes.
Result Fpack(const std::string& arguments, const RunOptions& run = RunOptions());

// Whether this process could get a console for the runs that want one
// (Wine gives one only with a display).
bool ConsoleAvailable();

// The platform's text for an error code, as fpack prints it.
std::string SystemText(unsigned long error);

} // namespace fr

#include <gtest/gtest.h>

#include <map>

namespace fr {

// A fixture with a working folder of its own (work_), a source tree below
// it (src_) and fpack run from there.
class FpackTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // fpack with the arguments, from the working folder unless said otherwise.
    Result Tool(const std::string& arguments, RunOptions run = RunOptions());
    // The records of an archive by name: the fields of "l --tsv" before the name.
    std::map<std::string, std::vector<std::string>> Records(const std::string& archive);
    static std::string Q(const std::string& text) { return "\"" + text + "\""; }

    std::string work_, src_;
};

} // namespace fr
