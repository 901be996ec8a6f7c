// Real runs of lopwort while the world around it fails: fact files that
// cannot be read, preprocessors that are missing, fail, die or flood their
// output, and source files deleted, locked, replaced or edited between the
// report and the write, read-only directories, a full disk, backups that
// cannot be made. After each the user's source must be as it was (or, where
// the run was meant to guard it, give back exactly the old text when the
// guards are stripped), every failure must be reported in the words the
// program uses for it, and the exit status must say how the run ended.
//
// The preprocessor is a shell script named as the compiler in the facts; it
// prints a prepared text and may do damage first, which is how a fault gets
// in between the loading of a source and its rewrite within one run.
#include "cli.h"
#include "lopwort.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Long enough that a file size limit can leave room for the report but
// none for the guarded text.
const std::string kSource = "/*" + std::string(300, '-') + "*/\n"
                            "int dead(int a)\n"
                            "{\n"
                            "    return a + 1;\n"
                            "}\n"
                            "\n"
                            "int main(void)\n"
                            "{\n"
                            "    return 0;\n"
                            "}\n";

// What the compiler writes for kSource: a marker, and the comment gone.
const std::string kPreprocessed = "# 1 \"src.c\"\n\n" + kSource.substr(kSource.find('\n') + 1);

// A directory holding src.c, the fake compiler cc, its text pre.i and the
// facts; removed when the test is over.
struct Project {
    std::string dir = makeTempDir();
    std::string src = dir + "/src.c", cc = dir + "/cc", facts = dir + "/facts.ta";

    // script runs in dir before the text is printed; compilerP names
    // another compiler than cc.
    explicit Project(const std::string& script = "", const char* compilerP = nullptr) {
        writeFile(src, kSource);
        writeFile(dir + "/pre.i", kPreprocessed);
        writeFile(cc, "#!/bin/sh\n" + script + "\nexec /bin/cat pre.i\n");
        std::string compiler = compilerP ? dir + "/" + compilerP : cc;
        writeFile(facts, "FACT TUPLE :\n$INSTANCE src.c cFile\n$INSTANCE main GF\n"
                         "$INSTANCE dead GF\ncontain src.c main\ncontain src.c dead\n"
                         "FACT ATTRIBUTE :\nsrc.c { args = (" +
                             dir + " " + compiler + " -c src.c) }\nmain { label = main file = " +
                             src + " lineno = 7 }\ndead { label = dead file = " + src +
                             " lineno = 2 }\n");
        chmod(cc.c_str(), 0755);
    }
    ~Project() {
        std::error_code ignored;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir, ignored);
    }

    // Hands the directory and everything in it to the user nobody, for runs
    // in which permissions must apply.
    void giveAway() {
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            EXPECT_EQ(lchown(entry.path().c_str(), kNobody, kNobody), 0);
        EXPECT_EQ(chown(dir.c_str(), kNobody, kNobody), 0);
    }

    RunResult run(const std::vector<std::string>& options, RunOptions how = {}) {
        std::vector<std::string> args = options;
        args.insert(args.end(), {"-p", dir, facts});
        return runLopwort(args, how);
    }

    // The names in the directory other than the project's own files: a
    // temporary file left behind shows here.
    std::vector<std::string> strays() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            std::string name = entry.path().filename();
            if (name != "src.c" && name != "cc" && name != "pre.i" && name != "facts.ta")
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string report(const std::string& status, const std::string& summary) const {
        return versionLine() + src + " \n\t(GF) dead:2 " + status + "\n" + summary;
    }
};

// The text without the guards of a run, as a strip run would see it.
std::string stripped(const std::string& text) {
    g_sourceP = strdup(text.c_str());
    strip_source();
    std::string result = g_sourceP;
    free(g_sourceP);
    g_sourceP = nullptr;
    return result;
}

// What a finished run left of the source.
enum Outcome {
    Unchanged, // byte for byte as before
    Guarded,   // guards written, and they strip back to the text before
    Deleted,
    Directory,
    Appended, // as before, with the edit the fault made
    Either,   // unchanged or guarded, depending on what the scan made of it
};

void expectOutcome(const Project& p, Outcome outcome) {
    switch (outcome) {
    case Unchanged:
        EXPECT_EQ(readFile(p.src), kSource);
        break;
    case Guarded: {
        std::string text = readFile(p.src);
        EXPECT_NE(text.find("#ifndef _DEAD_"), std::string::npos) << text;
        EXPECT_EQ(stripped(text), kSource);
        break;
    }
    case Deleted:
        EXPECT_FALSE(fs::exists(p.src));
        break;
    case Directory:
        EXPECT_TRUE(fs::is_directory(p.src));
        break;
    case Appended:
        EXPECT_EQ(readFile(p.src), kSource + "/* edited */\n");
        break;
    case Either:
        EXPECT_EQ(stripped(readFile(p.src)), kSource);
        break;
    }
}

const std::string kGuardedSummary = "4 lines of code #ifdef'd out\n1 functions are dead\n"
                                    "1 files updated\n";
const std::string kUnwrittenSummary = "0 lines of code #ifdef'd out\n1 functions are dead\n"
                                      "1 files updated\n1 files could not be written\n";
const std::string kNoBoundsSummary = "0 lines of code #ifdef'd out\n1 functions are dead\n"
                                     "1 functions had no known boundaries\n";

// The source changes under the run: the compiler, run between the loading
// of the source and its rewrite, does the damage. Permissions apply.
TEST(Faults, SourceChangedBetweenReportAndWrite) {
    struct {
        const char* name;
        std::string script;
        std::string err; // after the path of the source
        Outcome outcome;
    } cases[] = {
        {"deleted", "/bin/rm -f src.c", " Can't write\nNo such file or directory\n", Deleted},
        {"replaced by a directory", "/bin/rm -f src.c && /bin/mkdir src.c",
         " Can't write\nIs a directory\n", Directory},
        {"made unreadable", "/bin/chmod 000 src.c", " Can't write\nPermission denied\n",
         Unchanged},
        {"made read-only", "/bin/chmod 444 src.c", " Can't write\nPermission denied\n",
         Unchanged},
        {"edited", "echo '/* edited */' >>src.c", " Can't write\nChanged since it was read\n",
         Appended},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Project p(c.script);
        p.giveAway();
        RunOptions how;
        how.unprivileged = true;
        RunResult r = p.run({"-u"}, how);
        EXPECT_EQ(r.status, 5);
        EXPECT_EQ(r.out, p.report("update", kUnwrittenSummary));
        EXPECT_EQ(r.err, p.src + c.err);
        if (fs::exists(p.src))
            fs::permissions(p.src, fs::perms::owner_read, fs::perm_options::add);
        expectOutcome(p, c.outcome);
        EXPECT_EQ(p.strays(), std::vector<std::string>{});
    }
}

// Nowhere to write: a read-only directory, a full disk, a backup in the way.
TEST(Faults, WritesThatCannotBeDone) {
    struct {
        const char* name;
        std::vector<std::string> options;
        bool readOnlyDir;
        bool bakIsDirectory;
        long fileLimit;
        std::string err; // with DIR for the directory
        std::string summary;
        Outcome outcome;
        std::vector<std::string> strays;
    } cases[] = {
        {"read-only directory", {"-u"}, true, false, 0,
         "DIR/src.c Can't write\nPermission denied\n", kUnwrittenSummary, Unchanged, {}},
        {"read-only directory, .dead beside", {"-w"}, true, false, 0,
         "DIR/src.c.dead Can't write\nPermission denied\n", kUnwrittenSummary, Unchanged, {}},
        {"read-only directory, backup", {"-u", "-b"}, true, false, 0,
         "cp DIR/src.c DIR/src.c.bak returned 13\nDIR/src.c Can't write\nPermission denied\n",
         kUnwrittenSummary, Unchanged, {}},
        {"full disk", {"-u"}, false, false, static_cast<long>(kSource.size()) + 40,
         "DIR/src.c Can't write\nFile too large\n", kUnwrittenSummary, Unchanged, {}},
        {"full disk, backup", {"-s", "-b"}, false, false, static_cast<long>(kSource.size()) - 10,
         "cp DIR/src.c DIR/src.c.bak returned 27\nDIR/src.c Can't write\nFile too large\n",
         kUnwrittenSummary, Unchanged, {}},
        {"full disk, .dead beside", {"-w"}, false, false, static_cast<long>(kSource.size()) + 40,
         "DIR/src.c.dead Can't write\nFile too large\n", kUnwrittenSummary, Unchanged, {}},
        // A backup that cannot be made is reported, and the guards are
        // written all the same: they strip back to the old text.
        {"backup in the way", {"-u", "-b"}, false, true, 0,
         "cp DIR/src.c DIR/src.c.bak returned 21\n", kGuardedSummary, Guarded, {"src.c.bak"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Project p;
        if (c.bakIsDirectory)
            fs::create_directory(p.src + ".bak");
        p.giveAway();
        if (c.readOnlyDir)
            fs::permissions(p.dir, fs::perms(0555));
        RunOptions how;
        how.unprivileged = true;
        how.fileSizeLimit = c.fileLimit;
        RunResult r = p.run(c.options, how);
        std::string err = c.err;
        for (size_t at; (at = err.find("DIR")) != std::string::npos;)
            err.replace(at, 3, p.dir);
        EXPECT_EQ(r.status, c.summary == kUnwrittenSummary ? 5 : 0);
        std::string status = c.options[0] == "-w" ? "wrote" : c.options[0] == "-s" ? "stripped"
                                                                                  : "update";
        EXPECT_EQ(r.out, p.report(status, c.summary));
        EXPECT_EQ(r.err, err);
        fs::permissions(p.dir, fs::perms(0755));
        expectOutcome(p, c.outcome);
        EXPECT_EQ(p.strays(), c.strays);
    }
}

// The preprocessor fails. Its records stand for whatever it wrote before
// it ended, so a failing run of it may still have the file guarded; a run
// that wrote nothing leaves the file alone.
TEST(Faults, PreprocessorFails) {
    // Bytes of every value, the same on every run.
    std::string binary;
    for (unsigned x = 1; binary.size() < (1u << 20);) {
        x = x * 1103515245u + 12345u;
        binary += static_cast<char>(x >> 23);
    }
    struct {
        const char* name;
        std::string script;    // the text is printed after it, if it gets that far
        const char* compilerP; // another compiler in the directory
        std::string err;       // with DIR for the directory
        Outcome outcome;
    } cases[] = {
        {"missing", "", "nope", "Return from execve DIR/nope\nExit code 1\n", Unchanged},
        {"not executable", "", "pre.i", "Return from execve DIR/pre.i\nExit code 1\n", Unchanged},
        {"exits with an error and writes nothing", "exit 3", nullptr, "", Unchanged},
        {"exits with an error after its text", "/bin/cat pre.i; exit 1", nullptr, "", Guarded},
        {"killed before writing", "kill -KILL $$", nullptr, "DIR/cc did not terminate normally\n",
         Unchanged},
        {"killed after its text", "/bin/cat pre.i; kill -KILL $$", nullptr,
         "DIR/cc did not terminate normally\n", Guarded},
        {"huge output",
         "echo '# 1 \"/usr/include/huge.h\"'; /usr/bin/head -c 67108864 /dev/zero | /usr/bin/tr "
         "'\\0' '{'; echo",
         nullptr, "", Guarded},
        // What the scan makes of binary bytes is what it makes of them; it
        // must only not be the ruin of the source.
        {"binary output", "/bin/cat binary; echo", nullptr, "", Either},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Project p(c.script, c.compilerP);
        writeFile(p.dir + "/binary", binary);
        RunResult r = p.run({"-u"});
        std::string err = c.err;
        for (size_t at; (at = err.find("DIR")) != std::string::npos;)
            err.replace(at, 3, p.dir);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, err);
        if (c.outcome == Guarded) {
            EXPECT_EQ(r.out, p.report("update", kGuardedSummary));
        } else if (c.outcome == Unchanged) {
            EXPECT_EQ(r.out, p.report("scan failed", kNoBoundsSummary));
        }
        expectOutcome(p, c.outcome);
    }
}

// The facts cannot be read: the run ends before anything is touched.
TEST(Faults, FactsCannotBeRead) {
    Project p;
    fs::create_directory(p.dir + "/dir.ta");
    writeFile(p.dir + "/locked.ta", readFile(p.facts));
    fs::permissions(p.dir + "/locked.ta", fs::perms::none);
    p.giveAway();
    for (const char* nameP : {"missing.ta", "dir.ta", "locked.ta"}) {
        SCOPED_TRACE(nameP);
        std::string name = p.dir + "/" + nameP;
        RunOptions how;
        how.unprivileged = true;
        RunResult r = runLopwort({"-u", "-p", p.dir, name}, how);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, versionLine());
        EXPECT_EQ(r.err, "Can't open " + name + "\nExit code 2\n");
    }
    RunOptions closed;
    closed.closeStdin = true;
    RunResult r = runLopwort({"-u", "-p", p.dir}, closed);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, versionLine());
    EXPECT_EQ(r.err, "Can't read standard input\nExit code 2\n");
    expectOutcome(p, Unchanged);
}

} // namespace
