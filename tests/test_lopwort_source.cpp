// Reading, stripping and guarding one source file. What matters to users:
// guarded files still compile both ways, a strip gives back the text from
// before the guards byte for byte, and no failure leaves a file damaged.
#include "boundaries.h"
#include "cli.h"
#include "lopwort.h"
#include "lopwort_source.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <regex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int removeEntry(const char* pathP, const struct stat*, int flag, struct FTW*) {
    return flag == FTW_DP ? rmdir(pathP) : unlink(pathP);
}

// The directories made by a test, removed when its process ends (children
// leave through _exit and remove nothing).
struct Scratch {
    std::vector<std::string> dirs;
    ~Scratch() {
        for (const std::string& d : dirs)
            nftw(d.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    }
} scratch;

std::string tempDir() {
    scratch.dirs.push_back(makeTempDir());
    return scratch.dirs.back();
}

std::vector<boundaryT> records;
std::vector<std::string> argTexts;
std::vector<char*> argPointers;
std::string current; // the path g_filenameP points into

boundaryT rec(int line0, int col0, int line1, int col1, int dead = 1) {
    return boundaryT{{line0, line1}, {col0, col1}, dead};
}

void useRecords(const std::vector<boundaryT>& list) {
    records = list;
    g_boundariesP = records.data();
    g_boundaries = static_cast<int>(records.size());
}

void useArgs(const std::vector<std::string>& list) {
    argTexts = list;
    argPointers.clear();
    for (std::string& a : argTexts)
        argPointers.push_back(&a[0]);
    argPointers.push_back(nullptr);
    g_argsPP = argPointers.data();
}

// Writes text as a source file in a fresh directory and makes it current.
std::string useSource(const std::string& text, modeE mode, std::string dir = "") {
    if (dir.empty())
        dir = tempDir();
    current = dir + "/src.c";
    writeFile(current, text);
    g_filenameP = current.c_str();
    g_mode = mode;
    return current;
}

// Loads the current file, marks it changed and writes it.
void guardCurrent() {
    ASSERT_EQ(load_source(), 0);
    g_changed = 1;
    update_source();
}

// The stamp and the date replaced, so that whole texts can be compared.
std::string plain(const std::string& text) {
    static const std::regex stamp("_DEAD_[0-9]{14}");
    static const std::regex date(
        "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}");
    return std::regex_replace(std::regex_replace(text, stamp, "_DEAD_S"), date, "D");
}

const std::string kHeader = "#if !defined(_DEAD_) \n#define _DEAD_S\n#endif /* _DEAD_ */\n";
const std::string kStart = "\n#ifndef _DEAD_S /* D */\n";
const std::string kEnd = "\n#endif /* _DEAD_S D */\n";

std::string stripped(const std::string& path) {
    g_mode = Strip_source;
    g_filenameP = path.c_str();
    EXPECT_EQ(load_source(), 0);
    return g_sourceP;
}

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* dP = opendir(dir.c_str());
    while (struct dirent* eP = readdir(dP))
        if (eP->d_name[0] != '.')
            names.push_back(eP->d_name);
    closedir(dP);
    std::sort(names.begin(), names.end());
    return names;
}

struct ChildResult {
    int status;
    std::string err;
};

// Runs body in a child process and collects its standard error. As root,
// unprivileged drops to an ordinary user so that file permissions apply;
// fileLimit caps the size of written files, as a full disk would.
ChildResult inChild(const std::function<int()>& body, bool unprivileged, long fileLimit = 0) {
    std::string errPath = tempDir() + "/stderr";
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 2);
        close(fd);
        if (unprivileged && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(99);
        if (fileLimit > 0) {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit rl = {static_cast<rlim_t>(fileLimit), static_cast<rlim_t>(fileLimit)};
            setrlimit(RLIMIT_FSIZE, &rl);
        }
        int rc = body();
        fflush(nullptr);
        _exit(rc);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), readFile(errPath)};
}

const std::string kProgram = "#include <stdio.h>\n"
                             "\n"
                             "int dead_one(void)\n"
                             "{\n"
                             "    return 1;\n"
                             "}\n"
                             "int dead_two(int a) { return a + 1; } int keep = 3;\n"
                             "\n"
                             "int main(void)\n"
                             "{\n"
                             "    printf(\"%d\\n\", keep);\n"
                             "    return 0;\n"
                             "}\n";

TEST(LopwortSource, GuardedFileCompilesBothWaysAndStripsBack) {
    if (access("/usr/bin/gcc", X_OK) != 0)
        GTEST_SKIP() << "no gcc";
    std::string path = useSource(kProgram, Update_source);
    useRecords({rec(3, 1, 6, 2), rec(7, 1, 7, 38), rec(7, 40, 7, 53, 0), rec(9, 1, 13, 2, 0)});
    guardCurrent();
    EXPECT_EQ(plain(readFile(path)),
              kHeader + "#include <stdio.h>\n\n" + kStart + "int dead_one(void)\n{\n    return 1;\n}" +
                  kEnd + "\n" + kStart + "int dead_two(int a) { return a + 1; }" + kEnd +
                  " int keep = 3;\n\nint main(void)\n{\n    printf(\"%d\\n\", keep);\n"
                  "    return 0;\n}\n");
    EXPECT_EQ(g_lines_code, 5);
    EXPECT_EQ(g_updated, 1);

    std::string dir = path.substr(0, path.rfind('/'));
    for (const char* variant : {"live", "all"}) {
        std::string obj = dir + "/" + variant + ".o";
        std::vector<std::string> args = {"-Wall", "-Werror", "-c", path, "-o", obj};
        if (std::string(variant) == "all")
            args.insert(args.begin(), "-D_DEAD_");
        ASSERT_EQ(runProgram("/usr/bin/gcc", args).status, 0) << variant;
        std::string symbols = runProgram("/usr/bin/nm", {obj}).out;
        EXPECT_NE(symbols.find(" main\n"), std::string::npos);
        bool all = std::string(variant) == "all";
        EXPECT_EQ(symbols.find(" dead_one\n") != std::string::npos, all) << symbols;
        EXPECT_EQ(symbols.find(" dead_two\n") != std::string::npos, all) << symbols;
    }

    g_changed = 0;
    EXPECT_EQ(stripped(path), kProgram);
    EXPECT_EQ(g_stripped, 5);
    EXPECT_EQ(g_changed, 1);
}

TEST(LopwortSource, HeaderCarriesTheMacroSettingsAndOneStamp) {
    std::string text;
    for (int i = 1; i <= 14; ++i)
        text += i == 10 ? "int f(void)\n" : i == 11 ? "{\n" : i == 13 ? "}\n" : "x" + std::to_string(i) + ";\n";
    std::string path = useSource(text, Update_source);
    useArgs({"/src", "/usr/bin/gcc", "-E", "-ftabstop=1", "-DNDEBUG", "-DLEVEL=2", "-UOLD",
             "-DQ=\"s\"", "-D", "-U", "-DV=1.2.3", "-DP=/usr/lib", "-DE=", "-DH=0x1fUL", "-DN=-1",
             "-DID=other", "-I/usr/include", "-DF(x)=x"});
    useRecords({rec(10, 1, 13, 2)});
    guardCurrent();
    std::string out = readFile(path);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex("#define _DEAD_([0-9]{14})\n")));
    std::string stamp = m[1];
    ASSERT_TRUE(std::regex_search(out, m, std::regex("#ifndef _DEAD_" + stamp + " /\\* (.{24}) \\*/\n")));
    std::string date = m[1];
    EXPECT_NE(out.find("\n#endif /* _DEAD_" + stamp + " " + date + " */\n"), std::string::npos);

    std::vector<std::string> lines;
    for (size_t at = 0, lf; (lf = out.find('\n', at)) != std::string::npos; at = lf + 1)
        lines.push_back(out.substr(at, lf - at));
    ASSERT_EQ(lines.size(), 21u);
    EXPECT_EQ(lines[0], "#if !defined(_DEAD_) && defined(NDEBUG) && defined(LEVEL) && (LEVEL == 2) "
                        "&& !defined(OLD) && defined(Q) && defined(V) && defined(P) && defined(E) "
                        "&& defined(H) && (H == 0x1fUL) && defined(N) && (N == -1) "
                        "&& defined(ID) && (ID == other) && defined(F) ");
    EXPECT_EQ(lines[2], "#endif /* _DEAD_ */");
    EXPECT_EQ(lines[11], "x9;");
    EXPECT_EQ(lines[12], "");
    EXPECT_EQ(lines[14], "int f(void)");
    EXPECT_EQ(lines[17], "}");
    EXPECT_EQ(lines[19], "");
    EXPECT_EQ(lines[20], "x14;");
    EXPECT_EQ(g_lines_code, 4);

    // Without a preprocessor run the header has no conditions.
    argPointers[0] = nullptr;
    useSource("int a;\n", Update_source);
    guardCurrent();
    EXPECT_EQ(plain(readFile(current)), kHeader + "int a;\n");
}

TEST(LopwortSource, StampIsUtcAndDateIsCtime) {
    setenv("TZ", "UTC", 1);
    tzset();
    char stamp[GUARD_STAMP_SIZE], date[GUARD_DATE_SIZE];
    guard_stamp(1302567299, stamp, date);
    EXPECT_STREQ(stamp, "20110412001459");
    EXPECT_STREQ(date, "Tue Apr 12 00:14:59 2011");
}

// Each case: a source, one dead record, and where its guards must go. Where
// the counted columns disagree with the source, a guard never cuts a
// construct apart: the start is given up, or the end moves to the end of
// the line. Every result strips back to its source.
TEST(LopwortSource, GuardsGoAroundWholeConstructsOnly) {
    struct Case {
        std::string text;
        boundaryT record;
        std::string want; // after the header
    } cases[] = {
        {"int g(void) { return 0; } int x;\n", rec(1, 1, 1, 26),
         kStart + "int g(void) { return 0; }" + kEnd + " int x;\n"},
        {"/* note */\nint f(void)\n{\n}\n", rec(2, 1, 4, 2),
         "/* note */\n" + kStart + "int f(void)\n{\n}" + kEnd + "\n"},
        // The preprocessor keeps the comment's width before the first token,
        // the count here does not: the start falls inside "void".
        {"/* note */ int f(void) { return 0; }\n", rec(1, 12, 1, 37),
         "/* note */ int f(void) { return 0; }\n"},
        // A comment inside folds to one blank: the end would fall before "}".
        {"int h(void) { /* x */ return 0; }\n", rec(1, 1, 1, 26),
         kStart + "int h(void) { /* x */ return 0; }" + kEnd + "\n"},
        {"int f(void)\n{\n}  \nint x;\n", rec(1, 1, 3, 9),
         kStart + "int f(void)\n{\n}  " + kEnd + "\nint x;\n"},
        {"int f(void)\n{\n} /* a\nb */ int x;\n", rec(1, 1, 3, 9),
         kStart + "int f(void)\n{\n} /* a\nb */" + kEnd + " int x;\n"},
        {"int f(void)\n{\n}", rec(1, 1, 3, 2), kStart + "int f(void)\n{\n}" + kEnd},
        {"int a;\nint b;\n", rec(2, 1, 1, 7), "int a;\nint b;\n"},
        {"int a;\nint b;\n", rec(1, 9, 1, 12), "int a;\nint b;\n"},
        {"int a; int b;\n", rec(1, 8, 1, 14), "int a; " + kStart + "int b;" + kEnd + "\n"},
    };
    for (const Case& c : cases) {
        std::string path = useSource(c.text, Update_source);
        useRecords({c.record});
        guardCurrent();
        EXPECT_EQ(plain(readFile(path)), kHeader + c.want) << c.text;
        EXPECT_EQ(stripped(path), c.text);
    }
}

// The boundary records of a strip run describe the file on disk, old guards
// and all: the new guards must land around the constructs they name.
TEST(LopwortSource, StripPutsNewGuardsWhereTheRecordsOnDiskSay) {
    const std::string clean = "int f(void)\n{\n    return 1;\n}\n\n"
                              "int g(void)\n{\n    return 2;\n}\n\n"
                              "int h(void) { return 3; }\n";
    std::string path = useSource(clean, Update_source);
    useRecords({rec(1, 1, 4, 2), rec(6, 1, 9, 2), rec(11, 1, 11, 26, 0)});
    guardCurrent();
    std::string onDisk = readFile(path);
    auto lineOf = [&](const std::string& needle) {
        size_t at = onDisk.find(needle);
        return 1 + static_cast<int>(std::count(onDisk.begin(), onDisk.begin() + at, '\n'));
    };
    int f = lineOf("int f"), g = lineOf("int g"), h = lineOf("int h");
    ASSERT_EQ(f, 6); // header, empty line, start guard

    // Now g and h are dead, f is not.
    std::string again = useSource(onDisk, Strip_source);
    ASSERT_EQ(load_source(), 0);
    EXPECT_EQ(std::string(g_sourceP), clean);
    EXPECT_EQ(g_stripped, 5);
    EXPECT_EQ(g_changed, 1);
    useRecords({rec(f, 1, f + 3, 2, 0), rec(g, 1, g + 3, 2), rec(h, 1, h, 26)});
    update_source();
    EXPECT_EQ(plain(readFile(again)), kHeader + "int f(void)\n{\n    return 1;\n}\n\n" + kStart +
                                          "int g(void)\n{\n    return 2;\n}" + kEnd + "\n\n" +
                                          kStart + "int h(void) { return 3; }" + kEnd + "\n");

    // No dead record found again: the header alone.
    useSource(onDisk, Strip_source);
    ASSERT_EQ(load_source(), 0);
    useRecords({});
    update_source();
    EXPECT_EQ(plain(readFile(current)), kHeader + clean);
}

TEST(LopwortSource, StrippingEdges) {
    struct Case {
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
    for (const Case& c : cases) {
        g_changed = 0;
        g_stripped = 0;
        g_sourceP = strdup(c.text.c_str());
        strip_source();
        EXPECT_EQ(std::string(g_sourceP), c.want) << c.text;
        EXPECT_EQ(g_changed, c.want != c.text) << c.text;
        free(g_sourceP);
    }
    g_sourceP = nullptr;
}

TEST(LopwortSource, BufferIsReplacedOnlyForALongerFile) {
    useSource("int a; int b;\n", Read_source);
    ASSERT_EQ(load_source(), 0);
    char* firstP = g_sourceP;
    EXPECT_EQ(g_source_lth, 14);
    useSource("int a;\n", Read_source);
    ASSERT_EQ(load_source(), 0);
    EXPECT_EQ(g_sourceP, firstP);
    EXPECT_EQ(g_source_lth, 14);
    EXPECT_STREQ(g_sourceP, "int a;\n");
    useSource("int a; int b; int c;\n", Read_source);
    ASSERT_EQ(load_source(), 0);
    EXPECT_EQ(g_source_lth, 21);
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
    EXPECT_EQ(access((path + ".bak").c_str(), F_OK), -1);

    // Read_source: written back unchanged, after a backup; a source reached
    // through a link stays a link, and its permission bits stay.
    std::string dir = tempDir();
    std::string real = useSource("int x;\n", Read_source, dir);
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    std::string link = dir + "/link.c";
    ASSERT_EQ(symlink("src.c", link.c_str()), 0);
    g_filenameP = link.c_str();
    guardCurrent();
    EXPECT_EQ(readFile(real), "int x;\n");
    EXPECT_EQ(readFile(link + ".bak"), "int x;\n");
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(g_updated, 2);

    // Nothing changed: nothing is touched or counted.
    g_changed = 0;
    unlink(real.c_str());
    update_source();
    EXPECT_EQ(g_updated, 2);
    EXPECT_EQ(access(real.c_str(), F_OK), -1);
}

TEST(LopwortSource, FilesThatDoNotLoad) {
    testing::internal::CaptureStderr();
    std::string path = useSource("", Update_source);
    EXPECT_EQ(load_source(), -1);
    useSource(std::string("int a;\0int b;\n", 14), Update_source);
    EXPECT_EQ(load_source(), -1);
    g_changed = 1;
    update_source(); // never the text of a file that did not load
    std::string missing = current + ".none";
    g_filenameP = missing.c_str();
    g_mode = Read_source;
    EXPECT_EQ(load_source(), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "** " + path + " is empty\n** " + current + " holds a NUL byte\n** Can't open " +
                  missing + " for reading\nNo such file or directory\n");
    EXPECT_EQ(readFile(current), std::string("int a;\0int b;\n", 14));
    EXPECT_EQ(g_updated, 0);
}

// Each failure is run in a child; afterwards the source must be intact and
// no temporary file left behind.
TEST(LopwortSource, FailuresLeaveTheSourceIntact) {
    // Long enough that the error messages fit under the file size limit.
    const std::string text = "/*" + std::string(200, '-') + "*/\nint f(void)\n{\n    return 0;\n}\n";
    auto guardInChild = [] {
        if (load_source() != 0)
            return 1;
        g_changed = 1;
        update_source();
        return g_updated == 1 ? 0 : 2;
    };
    auto checkIntact = [&](const std::string& dir) {
        EXPECT_EQ(readFile(dir + "/src.c"), text);
        EXPECT_EQ(entries(dir), std::vector<std::string>{"src.c"});
    };
    useRecords({rec(2, 1, 5, 2)});

    // A read-only source in Update_source cannot be opened for update.
    std::string dir = tempDir();
    chmod(dir.c_str(), 0755);
    std::string path = useSource(text, Update_source, dir);
    chmod(path.c_str(), 0444);
    ChildResult r = inChild(guardInChild, true);
    if (r.status == 99)
        GTEST_SKIP() << "cannot drop privileges";
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "** Can't open " + path + " for reading and update\nPermission denied\n");
    checkIntact(dir);

    // A directory that refuses the new file.
    chmod(path.c_str(), 0666);
    chmod(dir.c_str(), 0555);
    r = inChild(guardInChild, true);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, path + " Can't write\nPermission denied\n");
    checkIntact(dir);
    chmod(dir.c_str(), 0755);

    // A disk that fills up while writing.
    r = inChild(guardInChild, false, static_cast<long>(text.size()) + 20);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, path + " Can't write\nFile too large\n");
    checkIntact(dir);

    // A backup that cannot be made: reported, and the file still written.
    ASSERT_EQ(mkdir((path + ".bak").c_str(), 0755), 0);
    g_backup = 1;
    r = inChild(guardInChild, false);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "cp " + path + " " + path + ".bak returned 21\n");
    EXPECT_EQ(plain(readFile(path)), kHeader + text.substr(0, 205) + kStart +
                                         "int f(void)\n{\n    return 0;\n}" + kEnd + "\n");
}

} // namespace
