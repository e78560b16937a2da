// fpack as a user meets it: relative paths from a working folder, the
// command line, messages, the listing, links, names that x would refuse,
// record times, and the progress line on a console.
#include <gtest/gtest.h>

#include "FpackRunner.h"
#include "Owners.h"
#include "PackTestUtil.h"
#include "TestSupport.h"
#include "FolderPack.h"

#include <algorithm>
#include <string.h>
#include <string>
#include <vector>

using namespace pt;

namespace {

constexpr uint64_t kUnixEpoch = 116444736000000000ull;
constexpr uint64_t kSecond = 10000000ull;

class FpackCli : public fr::FpackTest {
  protected:
    // A file at any depth, with the folders it needs.
    static bool Put(const std::string& path, const std::string& content) {
        return MakeDirAt(path.substr(0, path.rfind('\\'))) && WriteFileAt(path, content);
    }
    void MakeSmallSource() {
        ASSERT_TRUE(Put(src_ + "\\a.txt", "a"));
        ASSERT_TRUE(Put(src_ + "\\sub\\b.txt", Compressible(5000)));
    }
    std::vector<std::string> Names(const std::string& archive) {
        std::vector<std::string> names;
        for (const auto& record : Records(archive))
            names.push_back(record.first);
        return names;
    }
    // Lines of a text, without their line ends.
    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(at, end - at);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line);
            at = end + 1;
        }
        return lines;
    }
};

const std::vector<std::string> kSmallNames = {"a.txt", "sub", "sub\\b.txt"};

TEST_F(FpackCli, RelativePathsResolveAgainstTheWorkingFolder) {
    MakeSmallSource();
    // Relative paths that reach beyond 260 bytes from the working folder.
    std::string deep = "d", away = "e";
    while (work_.size() + deep.size() < 300) {
        deep += "\\" + std::string(40, 'd');
        away += "\\" + std::string(40, 'e');
    }
    ASSERT_TRUE(Put(work_ + "\\" + deep + "\\a.txt", "a"));
    ASSERT_TRUE(Put(work_ + "\\" + deep + "\\sub\\b.txt", "b"));
    const struct {
        const char* folder; // below the working folder
        std::string command;
        std::string archive; // below the working folder
        std::string tree;    // unpacked here, compared with src
    } cases[] = {
        {"", "c a.fpk src", "a.fpk", ""},
        {"", "x a.fpk out", "", "out"}, // a missing folder and a subfolder
        {"", "x a.fpk " + away + "\\out", "", away + "\\out"},
        {"src", "c ..\\dot.fpk .", "dot.fpk", ""},
        {"src\\sub", "c ../inside.fpk ../", "src\\inside.fpk", ""},
        {"", "c long.fpk " + deep, "long.fpk", ""},
        {"", "x long.fpk " + away + "\\again", "", ""},
    };
    for (const auto& c : cases) {
        fr::RunOptions run;
        run.folder = c.folder[0] ? work_ + "\\" + c.folder : work_;
        const fr::Result r = Tool(c.command, run);
        ASSERT_EQ(0, r.status) << c.command << "\n" << r.err;
        if (!c.archive.empty()) {
            EXPECT_EQ(kSmallNames, Names(work_ + "\\" + c.archive)) << c.command;
        }
        if (!c.tree.empty()) {
            EXPECT_EQ(Tree(src_), Tree(work_ + "\\" + c.tree)) << c.command;
        }
    }
    EXPECT_EQ((std::vector<std::string>{"a.txt", "sub\\", "sub\\b.txt"}),
              Tree(work_ + "\\" + away + "\\again"));
}

TEST_F(FpackCli, HelpVersionAndTheEndOfOptions) {
    MakeSmallSource();
    const struct {
        const char* arguments;
        const char* output;
    } cases[] = {
        {"-h", "usage: fpack c ARCHIVE SRCDIR"},
        {"--help", "Exit status:"},
        {"x a.fpk --help", "usage:"},
        {"--bogus --help", "usage:"},
        {"--version", "fpack 1."},
        {"l --version", "zlib"},
    };
    for (const auto& c : cases) {
        const fr::Result r = Tool(c.arguments);
        EXPECT_EQ(0, r.status) << c.arguments;
        EXPECT_NE(std::string::npos, r.out.find(c.output)) << c.arguments << "\n" << r.out;
        EXPECT_EQ("", r.err) << c.arguments;
    }
    // After "--", a name that starts with a dash is an operand.
    ASSERT_EQ(0, Tool("c -q -- -a.fpk src").status);
    EXPECT_EQ(kSmallNames, Names(work_ + "\\-a.fpk"));
    EXPECT_EQ(0, Tool("t -- -a.fpk").status);
}

TEST_F(FpackCli, UsageErrorsGiveTheProblemAndAOneLineHint) {
    MakeSmallSource();
    const struct {
        const char* arguments;
        const char* problem;
        const char* hint;
    } cases[] = {
        {"", "no command given", "usage: fpack c|l|t|x"},
        {"q a b", "unknown command 'q'", "usage: fpack c|l|t|x"},
        {"cc a b", "unknown command 'cc'", "usage: fpack c|l|t|x"},
        {"c", "missing ARCHIVE", "usage: fpack c ARCHIVE SRCDIR"},
        {"c a.fpk", "missing SRCDIR", "usage: fpack c ARCHIVE SRCDIR"},
        {"l", "missing ARCHIVE", "usage: fpack l ARCHIVE [--tsv]"},
        {"x a.fpk", "missing DESTDIR", "usage: fpack x ARCHIVE DESTDIR"},
        {"c a.fpk src more", "unexpected operand 'more'", "usage: fpack c"},
        {"t a b", "unexpected operand 'b'", "usage: fpack t"},
        {"c a.fpk src --time", "--time needs a FILETIME", "usage: fpack c"},
        {"c a.fpk src --time 12x", "not '12x'", "usage: fpack c"},
        {"c a.fpk src --time -5", "not '-5'", "usage: fpack c"},
        {"c a.fpk src --time 18446744073709551616", "not '18446744073709551616'", "usage: fpack c"},
        {"c a.fpk src --stamp 5", "unknown option '--stamp'", "usage: fpack c"},
        {"x a.fpk d --overwrite", "unknown option '--overwrite'", "usage: fpack x"},
        {"x a.fpk d --tsv", "--tsv applies to l only", "usage: fpack x"},
        {"l a.fpk --no-overwrite", "--no-overwrite applies to x only", "usage: fpack l"},
        {"t a.fpk --time 5", "--time applies to c only", "usage: fpack t"},
    };
    for (const auto& c : cases) {
        const fr::Result r = Tool(c.arguments);
        EXPECT_EQ(64, r.status) << c.arguments;
        const std::vector<std::string> lines = Lines(r.err);
        ASSERT_EQ(2u, lines.size()) << c.arguments << "\n" << r.err;
        EXPECT_EQ(0u, lines[0].find("fpack: ")) << c.arguments;
        EXPECT_NE(std::string::npos, lines[0].find(c.problem)) << c.arguments << "\n" << r.err;
        EXPECT_EQ(0u, lines[1].find(c.hint)) << c.arguments << "\n" << r.err;
        EXPECT_EQ("", r.out);
    }
    EXPECT_EQ((std::vector<std::string>{"src\\", "src\\a.txt", "src\\sub\\", "src\\sub\\b.txt"}),
              Tree(work_));
}

TEST_F(FpackCli, ErrorsNameTheFileAndTheReason) {
    MakeSmallSource();
    ASSERT_TRUE(Put(work_ + "\\plain.txt", "no archive, only some text"));
    ASSERT_EQ(0, Tool("c a.fpk src").status);
    ASSERT_TRUE(Put(work_ + "\\b.fpk", "an older archive"));
    // A file held open without sharing cannot be read.
    ASSERT_TRUE(Put(src_ + "\\held.txt", "held"));
    UniqueHandle held(CreateFileW(Wide(src_ + "\\held.txt").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.IsValid());
    // A destination where "a.txt" does not fit 4,096 bytes: the path need not exist.
    std::string deep = "deep";
    while (work_.size() + 1 + deep.size() < 4092)
        deep +=
            "\\" + std::string(std::min<size_t>(99, 4092 - work_.size() - deep.size() - 2), 'd');
    const struct {
        std::string command;
        int status;
        std::string message;
    } cases[] = {
        {"c b.fpk nothere", 66,
         "fpack: nothere: not a folder: " + fr::SystemText(ERROR_FILE_NOT_FOUND)},
        {"c b.fpk plain.txt", 66,
         "fpack: plain.txt: not a folder: " + fr::SystemText(ERROR_DIRECTORY)},
        {"c nodir\\b.fpk src", 73,
         "fpack: nodir\\b.fpk: cannot create the archive: " + fr::SystemText(ERROR_PATH_NOT_FOUND)},
        {"c b.fpk src", 66,
         "fpack: src\\held.txt: cannot read the file: " + fr::SystemText(ERROR_SHARING_VIOLATION)},
        {"x a.fpk plain.txt", 1,
         "fpack: a.fpk: record 1 \"a.txt\": error -1: a target file could not be created: "
         "plain.txt\\a.txt"},
        {"l plain.txt", 9, "fpack: plain.txt: error -9: bad signature"},
        {"x a.fpk " + deep, 9,
         "fpack: a.fpk: record 1 \"a.txt\": error -9: the destination folder and the name "
         "together do not fit"},
    };
    for (const auto& c : cases) {
        const fr::Result r = Tool(c.command);
        EXPECT_EQ(c.status, r.status) << c.command;
        EXPECT_EQ(0u, r.err.find(c.message)) << c.command << "\n" << r.err;
    }
    // A c that failed left the older archive as it was, and nothing beside it.
    EXPECT_EQ("an older archive", ts::ReadBytes(work_ + "\\b.fpk"));
    EXPECT_FALSE(ts::Exists(work_ + "\\b.fpk.partial"));
}

TEST_F(FpackCli, ListingEscapesNamesAndAlignsColumns) {
    const struct {
        std::string name;
        std::string shown;
        std::string content;
    } records[] = {
        {"plain.txt", "plain.txt", "a"},
        {"esc\x1b[31mred", "esc\\x1B[31mred", Compressible(5000)},
        {"tab\there", "tab\\x09here", std::string(10000000, 'z')},
        {"del\x7f", "del\\x7F", ""},
        {"lead\x81", "lead\\x81", "l"},
        {"lone\x80x", "lone\\x80x", "l"},
        {"\x83\x7c\xb6\xc5", "\x83\x7c\xb6\xc5", "ok"}, // ポ and half-width カナ are kept
        {"ctl\x01\\sub", "ctl\\x01\\sub", "c"},
        {"..\\up", "..\\up", "u"}, // refused, and listed all the same
    };
    std::string archive = Header(static_cast<int32_t>(std::size(records)) + 1);
    for (const auto& r : records)
        archive += FileRecord(r.name, r.content);
    archive += FolderRecord("folder", 0x10, 0, 0);
    ASSERT_TRUE(ts::WriteBytes(work_ + "\\names.fpk", archive));

    const fr::Result r = Tool("l names.fpk");
    // l lists every record; a name that x would refuse still fails it.
    EXPECT_EQ(9, r.status) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_EQ(std::size(records) + 3, lines.size()) << r.out; // heading, records, folder, total
    const size_t nameColumn = lines[0].find("name");
    const size_t sizeEnd = lines[0].find("size") + 4;
    for (size_t i = 0; i < std::size(records); ++i) {
        const std::string& line = lines[i + 1];
        EXPECT_EQ(nameColumn, line.size() - records[i].shown.size()) << line;
        EXPECT_EQ(records[i].shown, line.substr(nameColumn)) << line;
        EXPECT_EQ(std::to_string(records[i].content.size()),
                  line.substr(0, sizeEnd).substr(line.rfind(' ', sizeEnd - 1) + 1))
            << line;
        if (!IsSafeRecordName(records[i].name.c_str())) {
            EXPECT_NE(std::string::npos, r.err.find("record " + std::to_string(i + 1) + " \"" +
                                                    records[i].shown + "\": error -9"))
                << r.err;
        }
    }
    EXPECT_EQ("folder", lines[std::size(records) + 1].substr(nameColumn));
    EXPECT_EQ(0u, lines[std::size(records) + 2].find("total: 10 records (9 files, 1 folders)"));
    for (char c : r.out + r.err)
        EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\r' && c != '\n');

    // One tab-separated line per record, nothing else.
    const std::vector<std::string> tsv = Lines(Tool("l --tsv names.fpk").out);
    ASSERT_EQ(std::size(records) + 1, tsv.size());
    for (size_t i = 0; i < std::size(records); ++i) {
        EXPECT_EQ(8, std::count(tsv[i].begin(), tsv[i].end(), '\t')) << tsv[i];
        EXPECT_EQ("\t" + records[i].shown, tsv[i].substr(tsv[i].rfind('\t')));
    }
}

TEST_F(FpackCli, LinksAreSkippedWithAWarning) {
    MakeSmallSource();
    ASSERT_TRUE(Put(work_ + "\\outside\\secret.txt", "secret"));
    // Removed with the system's rm before the tree goes: deleting a link
    // through the platform's calls would reach what it points at.
    struct Links {
        std::vector<std::string> made;
        ~Links() {
            for (const std::string& link : made)
                ts::RemoveUnixSymlink(link);
        }
    } links;
    for (const auto& link : {std::make_pair(src_, src_ + "\\sub\\loop"),
                             std::make_pair(work_ + "\\outside", src_ + "\\out")}) {
        if (!ts::MakeUnixSymlink(link.first, link.second))
            GTEST_SKIP() << "SKIPPED LOUDLY: no symbolic link can be made at " << link.second;
        links.made.push_back(link.second);
    }
    ASSERT_TRUE(Put(src_ + "\\sys.dat", "s"));
    ASSERT_TRUE(SetFileAttributesA((src_ + "\\sys.dat").c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    const fr::Result r = Tool("c a.fpk src");
    EXPECT_EQ(3, r.status) << r.err;
    for (const char* link : {"src\\out", "src\\sub\\loop"})
        EXPECT_NE(std::string::npos, r.err.find(std::string("fpack: warning: ") + link +
                                                ": skipped: a link, junction or other "
                                                "reparse point is not packed"))
            << r.err;
    EXPECT_NE(std::string::npos, r.err.find("a.fpk: 2 links or reparse points left out"));
    EXPECT_EQ((std::vector<std::string>{"a.txt", "sub", "sub\\b.txt", "sys.dat"}),
              Names(work_ + "\\a.fpk"));
    EXPECT_EQ("00000026", Records(work_ + "\\a.fpk").at("sys.dat").at(1));
}

// x never passes through a folder link below its destination (Wine shows
// a Unix link as a plain folder): the record fails, nothing lands beyond it.
TEST_F(FpackCli, XDoesNotPassThroughAFolderLink) {
    MakeSmallSource();
    ASSERT_EQ(0, Tool("c a.fpk src").status);
    ASSERT_TRUE(MakeDirAt(work_ + "\\outside"));
    ASSERT_TRUE(MakeDirAt(work_ + "\\dest"));
    const std::string link = work_ + "\\dest\\sub";
    if (!ts::MakeUnixSymlink(work_ + "\\outside", link))
        GTEST_SKIP() << "SKIPPED LOUDLY: no symbolic link can be made at " << link;
    const fr::Result r = Tool("x a.fpk dest");
    EXPECT_TRUE(ts::RemoveUnixSymlink(link));
    EXPECT_EQ(1, r.status) << r.err;
    EXPECT_EQ(0u, r.err.find("fpack: a.fpk: record 2 \"sub\\b.txt\": error -1: a target file could "
                             "not be created: dest\\sub\\b.txt"))
        << r.err;
    EXPECT_EQ(std::vector<std::string>{}, Tree(work_ + "\\outside"));
}

TEST_F(FpackCli, NamesThatXWouldRefuseStopC) {
    // Each can exist on disk (made through the extended-length form), but the
    // refused ones would not come back as themselves.
    const struct {
        const char* name;
        bool refused;
    } cases[] = {
        {"nul.txt", true},      {"a.", true},          {"b ", true},  {"COM1", true},
        {"sub\\con", true},     {"sub\\CONIN$", true}, {".. ", true}, {"~folderpack.tmp", true},
        {"console.txt", false}, {"COM10.txt", false},
    };
    for (const auto& c : cases) {
        ts::RemoveTree(src_);
        ASSERT_TRUE(Put(src_ + "\\ok.txt", "ok"));
        ASSERT_TRUE(Put(src_ + "\\" + c.name, "x")) << c.name;
        ASSERT_TRUE(ts::WriteBytes(work_ + "\\a.fpk", "an older archive"));
        const fr::Result r = Tool("c a.fpk src");
        EXPECT_EQ(c.refused ? 65 : 0, r.status) << c.name << "\n" << r.err;
        if (c.refused) {
            EXPECT_EQ(0u,
                      r.err.find(std::string("fpack: src\\") + c.name + ": the name is refused"))
                << r.err;
            EXPECT_NE(std::string::npos, r.err.find("fpack: a.fpk: not written: 1 name cannot "
                                                    "be packed"));
            EXPECT_EQ("an older archive", ts::ReadBytes(work_ + "\\a.fpk"));
            EXPECT_FALSE(ts::Exists(work_ + "\\a.fpk.partial"));
        }
        // c refuses exactly what t, and so x, would refuse.
        ASSERT_TRUE(ts::WriteBytes(work_ + "\\n.fpk", Header(1) + FileRecord(c.name, "x")));
        EXPECT_EQ(c.refused ? 9 : 0, Tool("t n.fpk").status) << c.name;
    }
}

TEST_F(FpackCli, SourceDateEpochCapsTheRecordTimes) {
    MakeSmallSource();
    const uint64_t written = kUnixEpoch + 1293840000ull * kSecond; // 2011-01-01
    const uint64_t earlier = kUnixEpoch + 1104537600ull * kSecond; // 2005-01-01
    {
        UniqueHandle f(CreateFileW(Wide(src_ + "\\a.txt").c_str(), FILE_WRITE_ATTRIBUTES, 0,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
        FILETIME w = {static_cast<DWORD>(written), static_cast<DWORD>(written >> 32)};
        ASSERT_TRUE(SetFileTime(f.Get(), nullptr, nullptr, &w));
    }
    // Wine keeps no creation time of its own: whatever it reports is packed.
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(Wide(src_ + "\\a.txt").c_str(), GetFileExInfoStandard, &data));
    const uint64_t created = (static_cast<uint64_t>(data.ftCreationTime.dwHighDateTime) << 32) |
                             data.ftCreationTime.dwLowDateTime;
    const struct {
        const char* options;
        const char* epoch; // nullptr: not set
        int status;
        uint64_t cap;   // 0: none
        uint64_t fixed; // 0: none
    } cases[] = {
        {"", nullptr, 0, 0, 0},
        {"", "SOURCE_DATE_EPOCH=1104537600", 0, earlier, 0},
        {"", "SOURCE_DATE_EPOCH=2000000000", 0, kUnixEpoch + 2000000000ull * kSecond, 0},
        {"", "SOURCE_DATE_EPOCH=0", 0, kUnixEpoch, 0},
        {"", "SOURCE_DATE_EPOCH=", 0, 0, 0},
        {"--time 5 ", "SOURCE_DATE_EPOCH=1104537600", 0, 0, 5},
        {"--time 5 ", "SOURCE_DATE_EPOCH=junk", 0, 0, 5},
        {"", "SOURCE_DATE_EPOCH=12abc", 64, 0, 0},
        {"", "SOURCE_DATE_EPOCH=-1", 64, 0, 0},
        {"", "SOURCE_DATE_EPOCH=99999999999999999999", 64, 0, 0},
        // Past the last FILETIME.
        {"", "SOURCE_DATE_EPOCH=1844674407370", 64, 0, 0},
    };
    for (const auto& c : cases) {
        auto expected = [&](uint64_t time) {
            return std::to_string(c.fixed ? c.fixed : c.cap && time > c.cap ? c.cap : time);
        };
        fr::RunOptions run;
        if (c.epoch != nullptr)
            run.env.push_back(c.epoch);
        const fr::Result r = Tool(std::string("c ") + c.options + "a.fpk src", run);
        const std::string label = std::string(c.options) + (c.epoch ? c.epoch : "(not set)");
        ASSERT_EQ(c.status, r.status) << label << "\n" << r.err;
        if (c.status != 0) {
            EXPECT_NE(std::string::npos, r.err.find("SOURCE_DATE_EPOCH is not a count")) << label;
            continue;
        }
        const auto records = Records(work_ + "\\a.fpk");
        EXPECT_EQ(expected(created), records.at("a.txt").at(6)) << label;
        EXPECT_EQ(expected(written), records.at("a.txt").at(7)) << label;
        // Folders too: "sub" was made just now.
        EXPECT_EQ(expected(pt::Now()).substr(0, 6), records.at("sub").at(7).substr(0, 6)) << label;
    }
}

TEST_F(FpackCli, TheArchiveIsNeverPackedIntoItself) {
    MakeSmallSource();
    const std::string archive = src_ + "\\selfarchive.fpk";
    ASSERT_TRUE(Put(archive, "an older archive"));
    // What a killed c left beside it is no part of the source either.
    ASSERT_TRUE(Put(archive + ".partial", "a leftover"));
    char shortName[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameA(archive.c_str(), shortName, sizeof shortName));
    for (const std::string& spelling :
         {std::string("src\\selfarchive.fpk"), std::string("SRC\\SELFARCHIVE.FPK"),
          std::string("src\\SelfArchive.Fpk"), std::string(".\\src\\..\\src\\selfarchive.fpk"),
          std::string(shortName)}) {
        const fr::Result r = Tool("c " + Q(spelling) + " src");
        ASSERT_EQ(0, r.status) << spelling << "\n" << r.err;
        EXPECT_EQ(kSmallNames, Names(archive)) << spelling;
    }
}

TEST_F(FpackCli, ProgressShowsOnAConsoleOnly) {
    if (!fr::ConsoleAvailable())
        GTEST_SKIP() << "SKIPPED LOUDLY: no console (Wine gives one only with a display)";
    // Stored as it is, so that the archive too is large enough to show t's reading.
    ASSERT_TRUE(Put(src_ + "\\big.bin", Random(12 << 20)));
    ASSERT_TRUE(Put(work_ + "\\small\\a.txt", Compressible(1 << 20)));
    using fr::Output;
    const struct {
        const char* command;
        Output output;
        const char* line; // the progress line, or nothing
    } cases[] = {
        {"c big.fpk src", Output::ErrorOnConsole, "fpack c: 12.0 of 12.0 MiB (100%)"},
        {"c -q big2.fpk src", Output::ErrorOnConsole, nullptr},
        {"c big3.fpk src", Output::Files, nullptr},
        {"t big.fpk", Output::BothOnConsole, "fpack t: 12.0 of 12.0 MiB (100%)"},
        {"t --quiet big.fpk", Output::BothOnConsole, nullptr},
        {"x big.fpk out", Output::ErrorOnConsole, "fpack x: 12.0 of 12.0 MiB (100%)"},
        {"x big.fpk out2 --quiet", Output::ErrorOnConsole, nullptr},
        {"x big.fpk out3", Output::Files, nullptr},
        {"c small.fpk small", Output::ErrorOnConsole, nullptr},
    };
    for (const auto& c : cases) {
        fr::RunOptions run;
        run.output = c.output;
        const fr::Result r = Tool(c.command, run);
        ASSERT_EQ(0, r.status) << c.command << "\n" << r.err << r.console;
        std::vector<std::string> rows = Lines(r.console);
        if (c.line != nullptr) {
            // Drawn over and over on one row, which it keeps at the end.
            ASSERT_FALSE(rows.empty()) << c.command;
            EXPECT_EQ(0u, rows[0].find(c.line)) << c.command << "\n" << r.console;
            rows.erase(rows.begin());
        }
        std::string rest = r.err;
        for (const std::string& row : rows)
            rest += row + "\n";
        EXPECT_EQ(std::string::npos, rest.find("MiB")) << c.command << "\n" << rest;
        // What t prints itself follows on rows of its own.
        if (c.output == Output::BothOnConsole) {
            EXPECT_EQ(0u, rows.at(0).find("total: 1 records")) << r.console;
            EXPECT_EQ("OK", rows.back()) << r.console;
        } else {
            EXPECT_TRUE(rows.empty()) << c.command << "\n" << r.console;
        }
    }
}

} // namespace
