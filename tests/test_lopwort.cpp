// Command-line behaviour of the driver: options and their quirks, the safety
// rule, the summary and the exit statuses, as seen from a child process.
#include "cli.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kUsage = std::string("usage: ") + LOPWORT_BIN +
                           " [-r/ead] [-s/trip] [[-b/ackup] -w/rite|-u/pdate] [-v/erbose] "
                           "[-t/race] [-T/ree] [<] <tafile>\n";
const std::string kEmptySummary = "0 lines of code #ifdef'd out\n0 functions are dead\n";
const std::string kSafety =
    "The -s,-w and -u option require the -p option\nThis is a safety measure\n";

RunResult runOnEmptyInput(const std::vector<std::string>& args) {
    RunOptions o;
    o.hasInput = true;
    return runLopwort(args, o);
}

TEST(LopwortCli, ReportOnlyRunPrintsVersionAndTwoSummaryLines) {
    RunResult r = runOnEmptyInput({});
    EXPECT_EQ(r.out, versionLine() + kEmptySummary);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST(LopwortCli, OnlyTheSecondCharacterOfAnOptionCounts) {
    RunResult r = runOnEmptyInput({"-verbose", "-Tree", "-backup", "-face", "-Flow", "-debug"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, versionLine() + kEmptySummary);
}

TEST(LopwortCli, UnknownOptionsAndALoneDashAreRejected) {
    for (const char* bad : {"-x", "-", "-0", "--"}) {
        RunResult r = runOnEmptyInput({"-v", bad});
        EXPECT_EQ(r.out, versionLine()) << bad;
        EXPECT_EQ(r.err, std::string("Unknown option ") + bad + "\n" + kUsage) << bad;
        EXPECT_EQ(r.status, 1) << bad;
    }
}

TEST(LopwortCli, TwoFileNamesAreRejected) {
    RunResult r = runOnEmptyInput({"a.ta", "-v", "b.ta"});
    EXPECT_EQ(r.out, versionLine());
    EXPECT_EQ(r.err, std::string("Multiple ta_files\nusage: ") + LOPWORT_BIN + " [<] <tafile>\n");
    EXPECT_EQ(r.status, 1);
}

TEST(LopwortCli, RewritingModesNeedADirectory) {
    for (const char* mode : {"-s", "-w", "-u", "-update", "-write"}) {
        RunResult r = runOnEmptyInput({mode, "x.ta"});
        EXPECT_EQ(r.out, versionLine()) << mode;
        EXPECT_EQ(r.err, kSafety) << mode;
        EXPECT_EQ(r.status, 1) << mode;
    }
}

TEST(LopwortCli, LastModeWins) {
    // -u then -r reads only, which needs no directory.
    RunResult r = runOnEmptyInput({"-u", "-r"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // -r then -u updates, which does.
    r = runOnEmptyInput({"-r", "-u"});
    EXPECT_EQ(r.err, kSafety);
    EXPECT_EQ(r.status, 1);
}

TEST(LopwortCli, DashPTakesTheNextArgumentWhateverItHolds) {
    // -w is consumed as the directory, so the mode stays report-only.
    RunResult r = runOnEmptyInput({"-p", "-w"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, versionLine() + kEmptySummary);
    // -pDIR: the rest of the argument; -u is then allowed.
    r = runOnEmptyInput({"-psrc", "-u"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST(LopwortCli, TrailingDashPUnsetsTheDirectory) {
    RunResult r = runOnEmptyInput({"-u", "-p", "src", "-p"});
    EXPECT_EQ(r.err, kSafety);
    EXPECT_EQ(r.status, 1);
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
