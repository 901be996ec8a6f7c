// Command-line behaviour of the driver: options and their quirks, the safety
// rule, the summary and the exit statuses, as seen from a child process.
#include "cli.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kUsage = std::string("usage: ") + LOPWORT_BIN +
                           " [-r/ead] [-s/trip] [[-b/ackup] -w/rite|-u/pdate] [-v/erbose] "
                           "[-t/race] [-T/ree] [--why NAME]... [--json FILE] [--sarif FILE] "
                           "[<] <tafile>\n";
const std::string kEmptySummary = "0 lines of code #ifdef'd out\n0 functions are dead\n";
const std::string kSafety =
    "The -s,-w and -u option require the -p option\nThis is a safety measure\n";

RunResult runOnEmptyInput(const std::vector<std::string>& args) {
    RunOptions o;
    o.hasInput = true;
    return runLopwort(args, o);
}

// Each row: arguments, then what follows the version line on standard
// output, standard error and the exit status.
TEST(LopwortCli, OptionsAndTheirQuirks) {
    const std::string usage1 = std::string("Multiple ta_files\nusage: ") + LOPWORT_BIN +
                               " [<] <tafile>\n";
    const struct {
        std::vector<std::string> args;
        std::string out, err;
        int status;
    } rows[] = {
        {{}, kEmptySummary, "", 0},
        // only the second character of an option counts
        {{"-verbose", "-Tree", "-backup", "-face", "-Flow", "-debug"}, kEmptySummary, "", 0},
        {{"-v", "-x"}, "", "Unknown option -x\n" + kUsage, 1},
        {{"-v", "-"}, "", "Unknown option -\n" + kUsage, 1},
        {{"-v", "--"}, "", "Unknown option --\n" + kUsage, 1},
        // long options are spelled whole, and take a value
        {{"--whyx", "f"}, "", "Unknown option --whyx\n" + kUsage, 1},
        {{"--why"}, "", "Option --why needs a value\n" + kUsage, 1},
        {{"--json="}, "", "Option --json= needs a value\n" + kUsage, 1},
        {{"--why", "f", "--why=g"}, kEmptySummary + "why f: no function matches\n"
                                                    "why g: no function matches\n", "", 0},
        {{"a.ta", "-v", "b.ta"}, "", usage1, 1},
        {{"-s", "x.ta"}, "", kSafety, 1},
        {{"-w", "x.ta"}, "", kSafety, 1},
        {{"-update", "x.ta"}, "", kSafety, 1},
        // the last mode wins: -r reads only, -u needs a directory
        {{"-u", "-r"}, kEmptySummary, "", 0},
        {{"-r", "-u"}, "", kSafety, 1},
        // -p takes the next argument whatever it holds; -pDIR the rest of it
        {{"-p", "-w"}, kEmptySummary, "", 0},
        {{"-psrc", "-u"}, kEmptySummary, "", 0},
        // a trailing -p unsets the directory
        {{"-u", "-p", "src", "-p"}, "", kSafety, 1},
    };
    for (const auto& row : rows) {
        std::string trace;
        for (const std::string& a : row.args)
            trace += a + " ";
        SCOPED_TRACE(trace);
        RunResult r = runOnEmptyInput(row.args);
        EXPECT_EQ(r.out, versionLine() + row.out);
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(r.status, row.status);
    }
}

TEST(LopwortCli, DotDirectoryNeedsAReadableWorkingDirectory) {
    RunOptions o;
    o.hasInput = true;
    RunResult r = runLopwort({"-u", "-p", "."}, o);
    EXPECT_EQ(r.status, 0);

    // A working directory deeper than the 2024-byte buffer cannot be read.
    std::string base = makeTempDir();
    std::string deep = base;
    std::string comp(200, 'd');
    for (int i = 0; i < 12; ++i) {
        deep += "/" + comp;
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
    }
    o.cwd = deep;
    r = runLopwort({"-u", "-p."}, o);
    EXPECT_EQ(r.out, versionLine());
    EXPECT_EQ(r.err, "Can't identify CWD\n");
    EXPECT_EQ(r.status, 1);
    for (int i = 0; i < 12; ++i) {
        rmdir(deep.c_str());
        deep.resize(deep.size() - comp.size() - 1);
    }
    rmdir(base.c_str());
}

} // namespace
