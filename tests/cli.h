// Runs the built lopwort executable as a child process and captures what it
// writes and how it ends, for tests of the program as users see it.
#ifndef LOPWORT_TESTS_CLI_H
#define LOPWORT_TESTS_CLI_H

#include <string>
#include <vector>

struct RunResult {
    std::string out;
    std::string err;
    int status = -1; // exit status, or 128 + signal number
};

struct RunOptions {
    std::string input;          // standard input; used when hasInput
    bool hasInput = false;      // otherwise standard input is /dev/null
    bool closeStdin = false;    // start with descriptor 0 closed
    std::string cwd;            // working directory; empty keeps the test's
    long addressSpaceLimit = 0; // bytes of RLIMIT_AS; 0 for none
    long fileSizeLimit = 0;     // bytes of RLIMIT_FSIZE (SIGXFSZ ignored); 0 for none
    bool unprivileged = false;  // as root, run as the user nobody so that permissions apply
};

// The user an unprivileged run becomes.
const unsigned kNobody = 65534;

// argv[0] is the program path as given, so the version line names it.
RunResult runLopwort(const std::vector<std::string>& args, const RunOptions& options = {});
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const RunOptions& options = {});

// A fresh empty directory under the system's temporary directory.
std::string makeTempDir();
void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);

// The version line that every run starts with.
std::string versionLine(const std::string& program = LOPWORT_BIN);

#endif
