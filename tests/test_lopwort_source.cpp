// Reading, stripping and guarding one source file. What matters to users:
// guarded files still compile both ways, a strip gives back the text from
// before the guards byte for byte, and no failure leaves a file damaged.
#include "boundaries.h"
#include "cli.h"
#include "lopwort.h"
#include "lopwort_source.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Directories made by a test, removed when its process ends (forked
// children leave through _exit and remove nothing).
struct Scratch {
    std::vector<std::string> dirs;
    ~Scratch() {
        for (const std::string& d : dirs)
            fs::remove_all(d);
    }
} scratch;

std::vector<boundaryT> records;
std::vector<std::string> argTexts;
std::vector<char*> argPointers;
std::string current; // the path g_filenameP points into

boundaryT rec(int line0, int col0, int line1, int col1, int dead = 1, int linestart = 0) {
    return boundaryT{{line0, line1}, {col0, col1}, dead, linestart};
}

void useRecords(const std::vector<boundaryT>& list) {
    records = list;
    g_boundariesP = records.data();
    g_boundaries = static_cast<int>(records.size());
}

// Writes text as src.c in a fresh directory (or in dir) and makes it current.
std::string useSource(const std::string& text, modeE mode, std::string dir = "") {
    if (dir.empty())
        scratch.dirs.push_back(dir = makeTempDir());
    writeFile(current = dir + "/src.c", text);
    g_filenameP = current.c_str();
    g_mode = mode;
    return current;
}

void guardCurrent() {
    ASSERT_EQ(load_source(), 0);
    g_changed = 1;
    update_source();
}

std::string stripped(const std::string& path) {
    g_mode = Strip_source;
    g_filenameP = path.c_str();
    EXPECT_EQ(load_source(), 0);
    return g_sourceP;
}

// Stamps and dates replaced, so that whole texts can be compared.
const std::regex kStampOrDate(
    "_DEAD_[0-9]{14}|[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}");
std::string plain(const std::string& text) {
    return std::regex_replace(text, kStampOrDate, "S");
}
const std::string kHeader = "#if !defined(_DEAD_) \n#define S\n#endif /* _DEAD_ */\n";
const std::string kStart = "\n#ifndef S /* S */\n";
const std::string kEnd = "\n#endif /* S S */\n";

// Runs body in a child with its standard error collected; as root, it drops
// to an ordinary user so that permissions apply.
std::pair<int, std::string> inChild(const std::function<int()>& body) {
    scratch.dirs.push_back(makeTempDir());
    std::string errPath = scratch.dirs.back() + "/err";
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (freopen(errPath.c_str(), "w", stderr) == nullptr)
            _exit(97);
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(99);
        int rc = body();
        fflush(nullptr);
        _exit(rc);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readFile(errPath)};
}

const std::string kProgram = "#include <stdio.h>\n\n"
                             "int dead_one(void)\n{\n    return 1;\n}\n"
                             "int dead_two(int a) { return a + 1; } int keep = 3;\n\n"
                             "int main(void)\n{\n    printf(\"%d\\n\", keep);\n    return 0;\n}\n";

TEST(LopwortSource, GuardedFileCompilesBothWaysAndStripsBack) {
    std::string path = useSource(kProgram, Update_source);
    useRecords({rec(3, 1, 6, 2), rec(7, 1, 7, 38), rec(7, 40, 7, 53, 0), rec(9, 1, 13, 2, 0)});
    guardCurrent();
    EXPECT_EQ(plain(readFile(path)), kHeader + "#include <stdio.h>\n\n" + kStart +
                                         "int dead_one(void)\n{\n    return 1;\n}" + kEnd + "\n" +
                                         kStart + "int dead_two(int a) { return a + 1; }" + kEnd +
                                         kProgram.substr(kProgram.find(" int keep")));
    EXPECT_EQ(g_lines_code, 5);
    EXPECT_EQ(g_updated, 1);
    for (bool all : {false, true}) {
        ASSERT_EQ(runProgram("/usr/bin/gcc", {all ? "-D_DEAD_" : "-DLIVE", "-Wall", "-Werror", "-c",
                                              path, "-o", path + ".o"})
                      .status,
                  0);
        std::string symbols = runProgram("/usr/bin/nm", {path + ".o"}).out;
        EXPECT_NE(symbols.find(" main\n"), std::string::npos);
        EXPECT_EQ(symbols.find(" dead_one\n") != std::string::npos, all) << symbols;
        EXPECT_EQ(symbols.find(" dead_two\n") != std::string::npos, all) << symbols;
    }
    g_changed = 0;
    EXPECT_EQ(stripped(path), kProgram);
    EXPECT_EQ(g_stripped, 5);
    EXPECT_EQ(g_changed, 1);
}

TEST(LopwortSource, HeaderCarriesTheMacroSettingsAndOneStamp) {
    std::string text =
        "x1;\nx2;\nx3;\nx4;\nx5;\nx6;\nx7;\nx8;\nx9;\nint f(void)\n{\nx12;\n}\nx14;\n";
    std::string path = useSource(text, Update_source);
    argTexts = {"/src",           "/usr/bin/gcc", "-E",         "-DNDEBUG", "-DLEVEL=2",
                "-UOLD",          "-DQ=\"s\"",    "-D",         "-U",       "-DV=1.2.3",
                "-DP=/usr/lib",   "-DE=",         "-DH=0x1fUL", "-DN=-1",   "-DID=other",
                "-I/usr/include", "-DF(x)=x"};
    for (std::string& a : argTexts)
        argPointers.push_back(&a[0]);
    argPointers.push_back(nullptr);
    g_argsPP = argPointers.data();
    useRecords({rec(10, 1, 13, 2)});
    guardCurrent();
    EXPECT_EQ(plain(readFile(path)),
              "#if !defined(_DEAD_) && defined(NDEBUG) && defined(LEVEL) && (LEVEL == 2) "
              "&& !defined(OLD) && defined(Q) && defined(V) && defined(P) && defined(E) "
              "&& defined(H) && (H == 0x1fUL) && defined(N) && (N == -1) && defined(ID) "
              "&& (ID == other) && defined(F) \n#define S\n#endif /* _DEAD_ */\n" +
                  text.substr(0, 36) + kStart + "int f(void)\n{\nx12;\n}" + kEnd + "\nx14;\n");
    EXPECT_EQ(g_lines_code, 4);

    setenv("TZ", "UTC", 1);
    tzset();
    char stamp[GUARD_STAMP_SIZE], date[GUARD_DATE_SIZE];
    guard_stamp(1302567299, stamp, date);
    EXPECT_STREQ(stamp, "20110412001459");
    EXPECT_STREQ(date, "Tue Apr 12 00:14:59 2011");
}

// Where the counted columns disagree with the source, a guard never cuts a
// construct apart: the start is given up, or the end moves to the end of
// the line. Every result strips back to its source.
TEST(LopwortSource, GuardsGoAroundWholeConstructsOnly) {
    struct {
        std::string text;
        boundaryT record;
        std::string want; // after the header, when a guard is written
    } cases[] = {
        {"int g(void) { return 0; } int x;\n", rec(1, 1, 1, 26),
         kStart + "int g(void) { return 0; }" + kEnd + " int x;\n"},
        {"/* note */\nint f(void)\n{\n}\n", rec(2, 1, 4, 2),
         "/* note */\n" + kStart + "int f(void)\n{\n}" + kEnd + "\n"},
        // The preprocessor keeps the width of comments before a line's
        // first token, those that end on it included.
        {"/* note */ int f(void) { return 0; }\n", rec(1, 12, 1, 37),
         "/* note */ " + kStart + "int f(void) { return 0; }" + kEnd + "\n"},
        {"/* a\n b */ /* c */\tint f(void) {\n}\n", rec(2, 15, 3, 2),
         "/* a\n b */ /* c */\t" + kStart + "int f(void) {\n}" + kEnd + "\n"},
        // A construct that begins its line goes from the line's first code,
        // wherever the preprocessor put it (after an empty macro, here).
        {"/* c */ E int h(void) { return 0; }\n", rec(1, 10, 1, 35, 1, 1),
         "/* c */ " + kStart + "E int h(void) { return 0; }" + kEnd + "\n"},
        {"#define E\nE int h(void) { return 0; }\n", rec(2, 2, 2, 27, 1, 1),
         "#define E\n" + kStart + "E int h(void) { return 0; }" + kEnd + "\n"},
        // Never inside a comment, though its columns count at a line's start.
        {"/* a\nint f(void) { } */ int g;\n", rec(2, 1, 2, 17), "/* a\nint f(void) { } */ int g;\n"},
        // A comment inside folds to one blank: the end would fall before "}".
        {"int h(void) { /* x */ return 0; }\n", rec(1, 1, 1, 26),
         kStart + "int h(void) { /* x */ return 0; }" + kEnd + "\n"},
        {"int f(void)\n{\n}  \nint x;\n", rec(1, 1, 3, 9),
         kStart + "int f(void)\n{\n}  " + kEnd + "\nint x;\n"},
        {"int f(void)\n{\n} /* a\nb */ int x;\n", rec(1, 1, 3, 9),
         kStart + "int f(void)\n{\n} /* a\nb */" + kEnd + " int x;\n"},
        {"int f(void)\n{\n}", rec(1, 1, 3, 2), kStart + "int f(void)\n{\n}" + kEnd},
        {"int a;\nint b;\n", rec(2, 1, 1, 7), "int a;\nint b;\n"},
        {"int a; int b;\n", rec(1, 8, 1, 14), "int a; " + kStart + "int b;" + kEnd + "\n"},
        // A line that goes on past a backslash is one line to the compiler:
        // an end guard right after the backslash would join it.
        {"int f(void)\n{ return 0; } // end \\\nint g;\n", rec(1, 1, 2, 9),
         kStart + "int f(void)\n{ return 0; } // end \\\nint g;" + kEnd + "\n"},
        {"int f(void)\n{ return 0; } // end \\ \r\nint g;\n", rec(1, 1, 2, 9),
         kStart + "int f(void)\n{ return 0; } // end \\ \r\nint g;" + kEnd + "\n"},
        {"int f(void) { return 0; }\\", rec(1, 1, 1, 40),
         kStart + "int f(void) { return 0; }" + kEnd + "\\"},
        // Guards in two branches of a conditional would cut it apart.
        {"#ifdef __STDC__\nint f(int a)\n#else\nint f(a) int a;\n#endif\n{\n    return a;\n}\n",
         rec(2, 1, 8, 2),
         "#ifdef __STDC__\nint f(int a)\n#else\nint f(a) int a;\n#endif\n{\n    return a;\n}\n"},
        {"int f(void)\n#if X\n{ return 1; }\n#else\n{ return 2; }\n#endif\n", rec(1, 1, 5, 14),
         "int f(void)\n#if X\n{ return 1; }\n#else\n{ return 2; }\n#endif\n"},
        {"#if X\nint f(void) { return 1; }\n#endif\n", rec(2, 1, 2, 26),
         "#if X\n" + kStart + "int f(void) { return 1; }" + kEnd + "\n#endif\n"},
        // Directives as compilers read them: a comment may stand before the
        // name, while a carriage return ends the line ("#" alone, then text).
        {"int f(void)\n#/* c */ if X\n{ return 1; }\n#else\n{ return 2; }\n#endif\n",
         rec(1, 1, 5, 14),
         "int f(void)\n#/* c */ if X\n{ return 1; }\n#else\n{ return 2; }\n#endif\n"},
        {"int f(void)\n#if X\n{ return 1; }\n#\rendif\n#else\n{ return 2; }\n#endif\n",
         rec(1, 1, 6, 14),
         "int f(void)\n#if X\n{ return 1; }\n#\rendif\n#else\n{ return 2; }\n#endif\n"},
        // Nor does a guard go into a directive, or before one.
        {"#define F(x) x; int f(void) { return 0; }\n", rec(1, 18, 1, 43),
         "#define F(x) x; int f(void) { return 0; }\n"},
        {"int f(void) { return 0; } #pragma x\nint g;\n", rec(1, 1, 1, 26),
         kStart + "int f(void) { return 0; } #pragma x" + kEnd + "\nint g;\n"},
        // A text that ends inside a comment leaves no place for an end guard.
        {"int f(void) { return 0; } /* open\n", rec(1, 1, 1, 40),
         "int f(void) { return 0; } /* open\n"},
    };
    for (const auto& c : cases) {
        std::string path = useSource(c.text, Update_source);
        useRecords({c.record});
        guardCurrent();
        EXPECT_EQ(plain(readFile(path)), kHeader + c.want) << c.text;
        EXPECT_EQ(stripped(path), c.text);
    }
}

// The records of a strip run describe the file on disk, old guards and all:
// the new guards must land around the constructs they name.
TEST(LopwortSource, StripPutsNewGuardsWhereTheRecordsOnDiskSay) {
    const std::string f = "int f(void)\n{\n    return 1;\n}",
                      g = "int g(void)\n{\n    return 2;\n}", h = "int h(void) { return 3; }";
    std::string path = useSource(f + "\n\n" + g + "\n\n" + h + "\n", Update_source);
    useRecords({rec(1, 1, 4, 2), rec(6, 1, 9, 2), rec(11, 1, 11, 26, 0)});
    guardCurrent();
    std::string onDisk = readFile(path);
    auto lineOf = [&](const std::string& s) {
        return 1 + std::count(onDisk.begin(), onDisk.begin() + onDisk.find(s), '\n');
    };
    int fl = lineOf(f), gl = lineOf(g), hl = lineOf(h);
    ASSERT_EQ(fl, 6); // header, empty line, start guard

    for (bool anyDead : {true, false}) {
        useSource(onDisk, Strip_source);
        ASSERT_EQ(load_source(), 0);
        EXPECT_EQ(std::string(g_sourceP), f + "\n\n" + g + "\n\n" + h + "\n");
        EXPECT_EQ(g_changed, 1);
        useRecords({rec(fl, 1, fl + 3, 2, 0), rec(gl, 1, gl + 3, 2, anyDead),
                    rec(hl, 1, hl, 26, anyDead)});
        update_source();
        // With nothing left to guard, the file is back as it was before
        // the first run, header and all.
        EXPECT_EQ(plain(readFile(current)), anyDead ? kHeader + f + "\n\n" + kStart + g + kEnd +
                                                          "\n\n" + kStart + h + kEnd + "\n"
                                                    : f + "\n\n" + g + "\n\n" + h + "\n");
    }
    EXPECT_EQ(g_stripped, 10);
}

// In a strip run the records count the lines on disk, old guards and all,
// but the guards must fit the text written, from which the old ones are
// gone: its comments, directives and lines are what count.
TEST(LopwortSource, StripRunsGuardTheTextWritten) {
    struct {
        std::string onDisk;
        boundaryT record;
        std::string want; // after the header, when a guard is written
    } cases[] = {
        {"int f(void)\n{\n}\n\n#ifndef _DEAD_1 x\nint g;\n", rec(1, 1, 3, 2),
         kStart + "int f(void)\n{\n}" + kEnd + "\nint g;\n"},
        // A stripped guard line takes the line feed before it: the lines
        // around it are one line of the text written.
        {"int f(void)\n{\n}\n#ifndef _DEAD_1\n#define X 1\n", rec(1, 1, 3, 2),
         kStart + "int f(void)\n{\n}#define X 1" + kEnd + "\n"},
        {"#if\n#ifndef _DEAD_1\nint g;\n", rec(3, 1, 3, 7), "#ifint g;\n"},
        // The old guard closed the comment; without it the comment runs on.
        {"x /* open\n#endif /* _DEAD_1 */\nint f(void) { return 0; }\n", rec(3, 1, 3, 26),
         "x /* openint f(void) { return 0; }\n"},
    };
    for (const auto& c : cases) {
        std::string path = useSource(c.onDisk, Strip_source);
        ASSERT_EQ(load_source(), 0);
        std::string kept = g_sourceP;
        useRecords({c.record});
        update_source();
        std::string written = plain(readFile(path));
        EXPECT_EQ(written, (c.want.find(kStart) != std::string::npos ? kHeader : "") + c.want)
            << c.onDisk;
        EXPECT_EQ(stripped(path), kept) << c.onDisk;
    }
}

TEST(LopwortSource, StrippingEdges) {
    struct {
        std::string text, want;
    } cases[] = {
        {"#ifndef _DEAD_1 x\nint a;\n", "int a;\n"},
        {"int a;\n#endif /* _DEAD_1 x */", "int a;"},
        {"int a; #endif /* _DEAD_ mine\nint b;\n", "int a; int b;\n"},
        {"#ifndef _DEAD x\n", "#ifndef _DEAD x\n"},
        // A header beginning never closed keeps everything from it on.
        {"a\n#ifndef _DEAD_1\nb\n#if !defined(_DEAD_) x\nint a;\n",
         "ab\n#if !defined(_DEAD_) x\nint a;\n"},
    };
    for (const auto& c : cases) {
        g_changed = 0;
        g_sourceP = strdup(c.text.c_str());
        strip_source();
        EXPECT_EQ(std::string(g_sourceP), c.want) << c.text;
        EXPECT_EQ(g_changed, c.want != c.text) << c.text;
        free(g_sourceP);
    }
    g_sourceP = nullptr;
}

TEST(LopwortSource, OutputPerMode) {
    // Write_source: the source stays, the result goes beside it, no backup.
    std::string path = useSource("int f(void) { return 0; }\n", Write_source);
    g_backup = 1;
    useRecords({rec(1, 1, 1, 26)});
    guardCurrent();
    EXPECT_EQ(readFile(path), "int f(void) { return 0; }\n");
    EXPECT_EQ(plain(readFile(path + ".dead")),
              kHeader + kStart + "int f(void) { return 0; }" + kEnd + "\n");
    EXPECT_FALSE(fs::exists(path + ".bak"));

    // Read_source: written back unchanged after a backup; a source reached
    // through a link stays a link and keeps its permission bits.
    fs::permissions(path, fs::perms(0640));
    std::string link = path + ".link";
    fs::create_symlink("src.c", link);
    g_mode = Read_source;
    g_filenameP = link.c_str();
    guardCurrent();
    EXPECT_EQ(readFile(path), "int f(void) { return 0; }\n");
    EXPECT_EQ(readFile(link + ".bak"), readFile(path));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));
    EXPECT_EQ(g_updated, 2);

    g_changed = 0; // nothing to write: nothing is touched or counted
    fs::remove(path);
    update_source();
    EXPECT_EQ(g_updated, 2);
    EXPECT_FALSE(fs::exists(path));
}

// Failures met while loading leave the source intact and no temporary file
// behind; those met while writing are run through the program in
// test_faults.cpp.
TEST(LopwortSource, FailuresLeaveTheSourceIntact) {
    const std::string text = "int f(void)\n{\n}\n";
    auto guardInChild = [] {
        if (load_source() != 0)
            return 2;
        g_changed = 1;
        update_source();
        return g_updated;
    };
    std::string path = useSource(text, Update_source), dir = fs::path(path).parent_path();
    auto intact = [&] {
        return readFile(path) == text && std::distance(fs::directory_iterator(dir), {}) == 1;
    };
    useRecords({rec(1, 1, 3, 2)});

    fs::permissions(dir, fs::perms(0755));
    fs::permissions(path, fs::perms(0444));
    auto r = inChild(guardInChild);
    if (r.first == 99)
        GTEST_SKIP() << "cannot drop privileges";
    EXPECT_EQ(r, std::make_pair(2, "** Can't open " + path +
                                       " for reading and update\nPermission denied\n"));
    EXPECT_TRUE(intact());
    fs::permissions(path, fs::perms(0666));

    testing::internal::CaptureStderr();
    writeFile(path, "");
    EXPECT_EQ(load_source(), -1);
    writeFile(path, std::string("int a;\0int b;\n", 14));
    EXPECT_EQ(load_source(), -1);
    g_changed = 1;
    update_source(); // never the text of a file that did not load
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "** " + path + " is empty\n** " + path + " holds a NUL byte\n");
    EXPECT_EQ(readFile(path), std::string("int a;\0int b;\n", 14));
    EXPECT_EQ(g_updated, 0);
}

} // namespace

// -p confines rewriting by real paths: a link inside the directory that
// leads out of it is never written through, whatever the facts spell.
namespace {

struct LinkedTree {
    std::string base = makeTempDir(), proj = base + "/proj", outside = base + "/outside";
    const std::string dead = "int dead_%(void)\n{\n    return 1;\n}\n";

    LinkedTree() {
        scratch.dirs.push_back(base);
        fs::create_directories(proj);
        fs::create_directories(outside + "/vendor");
        writeFile(proj + "/main.c", "int main(void)\n{\n    return 0;\n}\n");
        writeFile(outside + "/ext.c", text("ext"));
        writeFile(outside + "/vendor/v.c", text("v"));
        writeFile(proj + "/real.c", text("alias"));
        writeFile(proj + "/w.c", text("w"));
        fs::create_symlink(outside + "/ext.c", proj + "/ext.c");   // a file from outside
        fs::create_symlink(outside + "/vendor", proj + "/vendor"); // a directory from outside
        fs::create_symlink("real.c", proj + "/alias.c");            // a file inside
        fs::create_symlink(outside + "/w.dead", proj + "/w.c.dead"); // a copy's name
        fs::create_symlink(proj, base + "/plink");
    }
    std::string text(const std::string& name) const {
        return std::regex_replace(dead, std::regex("%"), name);
    }
    // Facts whose paths are spelled under root (proj or plink).
    std::string facts(const std::string& root) const {
        std::string tuples = "FACT TUPLE :\n", attrs = "FACT ATTRIBUTE :\n";
        for (const auto& [file, fn] : {std::pair<std::string, std::string>{"main.c", "main"},
                                       {"ext.c", "dead_ext"},
                                       {"vendor/v.c", "dead_v"},
                                       {"alias.c", "dead_alias"},
                                       {"w.c", "dead_w"}}) {
            tuples += "$INSTANCE " + file + " cFile\n$INSTANCE " + fn + " GF\ncontain " + file +
                      " " + fn + "\n";
            attrs += file + " { args = (" + root + " /usr/bin/gcc -c " + file + ") }\n" + fn +
                     " { label = " + fn + " file = " + root + "/" + file + " lineno = 1 }\n";
        }
        writeFile(base + "/facts.ta", tuples + attrs);
        return base + "/facts.ta";
    }
};

TEST(LopwortSource, NothingIsWrittenThroughALinkOutOfTheDirectory) {
    LinkedTree t;
    RunResult r = runLopwort({"-u", "-p", t.proj, t.facts(t.proj)});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* name : {"/ext.c", "/vendor/v.c"})
        EXPECT_NE(r.err.find("** " + t.proj + name + " lies outside " + t.proj +
                             " through a link: left untouched\n"),
                  std::string::npos)
            << r.err;
    EXPECT_EQ(readFile(t.outside + "/ext.c"), t.text("ext"));
    EXPECT_EQ(readFile(t.outside + "/vendor/v.c"), t.text("v"));
    EXPECT_EQ(std::distance(fs::directory_iterator(t.outside), {}), 2); // no temporary file
    // A link to a file inside is followed, and stays a link.
    EXPECT_TRUE(fs::is_symlink(t.proj + "/alias.c"));
    EXPECT_NE(readFile(t.proj + "/real.c").find("#ifndef _DEAD_"), std::string::npos);
    EXPECT_NE(r.out.find("2 files updated\n2 functions 2 files not updated because not under " +
                         t.proj + "\n"),
              std::string::npos)
        << r.out;

    // A copy whose name is a link out of the directory is not written.
    LinkedTree u;
    r = runLopwort({"-w", "-p", u.proj, u.facts(u.proj)});
    EXPECT_NE(r.err.find("** " + u.proj + "/w.c.dead lies outside"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(u.outside + "/w.dead"));
    EXPECT_TRUE(fs::exists(u.proj + "/alias.c.dead"));
}

TEST(LopwortSource, TheDirectoryMayBeNamedThroughALink) {
    for (bool linkInFacts : {false, true}) {
        LinkedTree t;
        std::string link = t.base + "/plink";
        RunResult r = runLopwort(
            {"-u", "-p", linkInFacts ? t.proj : link, t.facts(linkInFacts ? link : t.proj)});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(readFile(t.proj + "/w.c").find("#ifndef _DEAD_"), std::string::npos) << r.out;
        EXPECT_NE(readFile(t.proj + "/real.c").find("#ifndef _DEAD_"), std::string::npos);
        EXPECT_EQ(readFile(t.outside + "/ext.c"), t.text("ext"));
    }
}

} // namespace
