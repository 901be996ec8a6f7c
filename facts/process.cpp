// fork, exec and a poll loop over the child's output pipes. The child gets
// an empty environment because lopwort runs the same compiler that way, and
// the answers must be the ones lopwort will see.
#include "process.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

std::string CProgramRun::failure(const std::string& program) const {
    switch (m_outcome) {
    case ERunOutcome::CannotStart:
        return "cannot run " + program + (m_error.empty() ? "" : ": " + m_error);
    case ERunOutcome::Killed:
        return program + " was killed";
    case ERunOutcome::Exited:
        break;
    }
    if (m_status == 127)
        return "cannot run " + program;
    if (m_status == 126)
        return "cannot run " + program + ": " + m_error;
    std::string text = program + " failed with status " + std::to_string(m_status);
    size_t eol = m_err.find('\n');
    std::string first = m_err.substr(0, eol);
    if (!first.empty())
        text += ": " + first;
    return text;
}

CProgramRun run_program(const std::vector<std::string>& args, const std::string& directory,
                        bool keepErr) {
    CProgramRun run;
    if (args.empty() || args[0].empty() || args[0][0] != '/') {
        run.m_error = "no absolute path";
        return run;
    }
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    char* envp[] = {nullptr};

    int outFds[2], errFds[2] = {-1, -1};
    if (pipe(outFds) != 0) {
        run.m_error = std::string("pipe: ") + strerror(errno);
        return run;
    }
    if (keepErr && pipe(errFds) != 0) {
        run.m_error = std::string("pipe: ") + strerror(errno);
        close(outFds[0]);
        close(outFds[1]);
        return run;
    }
    pid_t pid = fork();
    if (pid < 0) {
        run.m_error = std::string("fork: ") + strerror(errno);
        for (int fd : {outFds[0], outFds[1], errFds[0], errFds[1]})
            if (fd >= 0)
                close(fd);
        return run;
    }
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDWR);
        if (chdir(directory.c_str()) != 0 || devnull < 0)
            _exit(126);
        dup2(devnull, 0);
        dup2(outFds[1], 1);
        dup2(keepErr ? errFds[1] : devnull, 2);
        for (int fd : {outFds[0], outFds[1], errFds[0], errFds[1]})
            if (fd > 2)
                close(fd);
        execve(argv[0], argv.data(), envp);
        _exit(127);
    }
    close(outFds[1]);
    if (keepErr)
        close(errFds[1]);
    struct pollfd fds[2] = {{outFds[0], POLLIN, 0}, {keepErr ? errFds[0] : -1, POLLIN, 0}};
    std::string* sinks[2] = {&run.m_out, &run.m_err};
    int open = keepErr ? 2 : 1;
    char buf[65536];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0)
                continue;
            ssize_t got = read(fds[k].fd, buf, sizeof buf);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                close(fds[k].fd);
                fds[k].fd = -1;
                --open;
                continue;
            }
            sinks[k]->append(buf, static_cast<size_t>(got));
        }
    }
    for (const struct pollfd& p : fds)
        if (p.fd >= 0)
            close(p.fd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        run.m_outcome = ERunOutcome::Exited;
        run.m_status = WEXITSTATUS(status);
        if (run.m_status == 126)
            run.m_error = "cannot change to " + directory;
    } else {
        run.m_outcome = ERunOutcome::Killed;
    }
    return run;
}
