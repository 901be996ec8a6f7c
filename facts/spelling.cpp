// One preprocessor run per unit: cheap next to parsing, and the only way to
// know what the compiler will write in its line markers.
#include "spelling.h"

#include "arguments.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

std::string real_path(const std::string& path) {
    char buf[PATH_MAX];
    if (realpath(path.c_str(), buf) == nullptr)
        return std::string();
    return buf;
}

void scan_line_markers(const std::string& text, const std::string& directory,
                       std::map<std::string, std::string>& spellingsR) {
    std::map<std::string, bool> seen;
    size_t pos = 0, n = text.size();
    while (pos < n) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos)
            eol = n;
        size_t i = pos;
        pos = eol + 1;
        if (text[i] != '#')
            continue;
        ++i;
        while (i < eol && text[i] == ' ')
            ++i;
        if (i >= eol || text[i] < '1' || text[i] > '9')
            continue;
        while (i < eol && text[i] >= '0' && text[i] <= '9')
            ++i;
        if (i >= eol || text[i] != ' ')
            continue;
        while (i < eol && text[i] == ' ')
            ++i;
        if (i >= eol || text[i] != '"')
            continue;
        size_t close = text.find('"', i + 1);
        if (close == std::string::npos || close > eol)
            continue;
        std::string name = text.substr(i + 1, close - i - 1);
        if (name.empty() || name[0] == '<' || seen.count(name))
            continue;
        seen[name] = true;
        std::string spelled = name[0] == '/' ? name : directory + "/" + name;
        std::string real = real_path(spelled);
        if (!real.empty())
            spellingsR.emplace(real, spelled);
    }
}

bool learn_spellings(const CCompileCommand& cmd, std::map<std::string, std::string>& spellingsR,
                     std::string& textR, std::string& errorR) {
    std::vector<std::string> args = preprocessor_arguments(cmd);
    if (args[0].empty() || args[0][0] != '/') {
        errorR = "compiler " + args[0] + " has no absolute path";
        return false;
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    char* envp[] = {nullptr};

    int fds[2];
    if (pipe(fds) != 0) {
        errorR = std::string("pipe: ") + strerror(errno);
        return false;
    }
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        errorR = std::string("fork: ") + strerror(errno);
        return false;
    }
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDWR);
        if (chdir(cmd.m_directory.c_str()) != 0 || devnull < 0)
            _exit(126);
        dup2(devnull, 0);
        dup2(fds[1], 1);
        dup2(devnull, 2);
        close(fds[0]);
        close(fds[1]);
        execve(argv[0], argv.data(), envp);
        _exit(127);
    }
    close(fds[1]);
    std::string& text = textR;
    text.clear();
    char buf[65536];
    for (;;) {
        ssize_t got = read(fds[0], buf, sizeof buf);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buf, static_cast<size_t>(got));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        errorR = args[0] + " -E " +
                 (WIFEXITED(status) ? "failed with status " + std::to_string(WEXITSTATUS(status))
                                    : std::string("was killed"));
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
            errorR = "cannot run " + args[0];
        return false;
    }
    scan_line_markers(text, cmd.m_directory, spellingsR);
    return true;
}
