// A report file written as a new file of its own beside its final name and
// put in place only once complete, so that a report that fails half way
// leaves the last one whole, and nothing planted under the work file's name
// (a link to another file, say) is ever opened or written through.
#pragma once

#include "Owners.h"

#include <windows.h>
#include <stddef.h>
#include <string>

class OutFile {
  public:
    // path: the final name, in extended-length form.
    explicit OutFile(const std::wstring& path);
    ~OutFile();
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    void Put(const char* text, size_t length);
    void Put(const std::string& text) { Put(text.data(), text.size()); }
    void Put(const char* text);

    // Flushes the file and gives it its final name, replacing what stood
    // there (a link is replaced, not followed). False with the platform's
    // error code; the work file is then gone.
    bool Commit(DWORD& error);

  private:
    void Flush();

    std::wstring path_;
    std::wstring work_;
    UniqueHandle file_;
    std::string buffer_;
    DWORD error_ = 0;
};
