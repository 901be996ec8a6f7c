// Child-process runner for command-line tests.
#include "cli.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Removes a tree that tests may have left unreadable or unwritable; links
// are removed, never followed.
int remove_entry(const char* pathP, const struct stat*, int type, struct FTW*) {
    if (type == FTW_DP)
        rmdir(pathP);
    else
        unlink(pathP);
    return 0;
}

int open_up(const char* pathP, const struct stat* stP, int type, struct FTW*) {
    if (type == FTW_D || type == FTW_DNR)
        chmod(pathP, (stP->st_mode & 07777) | S_IRWXU);
    return 0;
}

// The directories this test process made, removed when it ends (but not by
// a child forked from it, which would take them from under its parent).
// LOPWORT_KEEP_TEST_DIRS=1 keeps them for a look after a failure.
struct CTempDirs {
    pid_t m_owner = getpid();
    std::vector<std::string> m_dirs;
    ~CTempDirs() {
        const char* keepP = getenv("LOPWORT_KEEP_TEST_DIRS");
        if (getpid() != m_owner || (keepP != nullptr && *keepP != '\0' && *keepP != '0'))
            return;
        for (const std::string& dir : m_dirs) {
            nftw(dir.c_str(), open_up, 16, FTW_PHYS);
            nftw(dir.c_str(), remove_entry, 16, FTW_PHYS | FTW_DEPTH);
        }
    }
};

CTempDirs& temp_dirs() {
    static CTempDirs dirs;
    return dirs;
}

} // namespace

std::string makeTempDir() {
    const char* baseP = getenv("TMPDIR");
    std::string tmpl = std::string(baseP && *baseP ? baseP : "/tmp") + "/lopwort-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    temp_dirs().m_dirs.push_back(buf.data());
    return buf.data();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
    if (!f)
        throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string versionLine(const std::string& program) {
    return program + " 2.0.5 Apr 12 2011 00:14:59\n";
}

RunResult runLopwort(const std::vector<std::string>& args, const RunOptions& options) {
    return runProgram(LOPWORT_BIN, args, options);
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const RunOptions& options) {
    std::string dir = makeTempDir();
    std::string inPath = dir + "/stdin", outPath = dir + "/stdout", errPath = dir + "/stderr";
    writeFile(inPath, options.input);

    std::vector<const char*> argv;
    argv.push_back(program.c_str());
    for (const std::string& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);

    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int in = open(options.hasInput ? inPath.c_str() : "/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0)
            _exit(125);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        close(in);
        close(out);
        close(err);
        if (options.closeStdin)
            close(0);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
            _exit(126);
        if (options.addressSpaceLimit > 0) {
            struct rlimit rl = {static_cast<rlim_t>(options.addressSpaceLimit),
                                static_cast<rlim_t>(options.addressSpaceLimit)};
            setrlimit(RLIMIT_AS, &rl);
        }
        if (options.unprivileged && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
            _exit(124);
        if (options.fileSizeLimit > 0) {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit rl = {static_cast<rlim_t>(options.fileSizeLimit),
                                static_cast<rlim_t>(options.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &rl);
        }
        execv(program.c_str(), const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    RunResult r;
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    unlink(inPath.c_str());
    unlink(outPath.c_str());
    unlink(errPath.c_str());
    rmdir(dir.c_str());
    return r;
}
