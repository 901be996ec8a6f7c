// A fork-and-wait loop. The parent keeps no state of a unit beyond its
// index; results travel through files that the children write.
#include "pool.h"

#include <cerrno>
#include <cstdio>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

bool run_in_children(size_t count, int jobs, const std::function<int(size_t)>& work,
                     const std::function<void(size_t, const CJobResult&)>& done) {
    if (jobs < 1)
        jobs = 1;
    std::map<pid_t, size_t> running;
    size_t next = 0;
    bool ok = true;
    while (next < count || !running.empty()) {
        while (ok && next < count && running.size() < static_cast<size_t>(jobs)) {
            fflush(nullptr);
            pid_t pid = fork();
            if (pid < 0) {
                perror("lopwort-facts: fork");
                ok = false;
                break;
            }
            if (pid == 0) {
                dup2(2, 1);
                int status = work(next);
                fflush(nullptr);
                _exit(status);
            }
            running[pid] = next++;
        }
        if (running.empty())
            break;
        int status = 0;
        pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR)
                continue;
            perror("lopwort-facts: waitpid");
            return false;
        }
        auto it = running.find(pid);
        if (it == running.end())
            continue;
        CJobResult result;
        if (WIFEXITED(status))
            result.m_status = WEXITSTATUS(status);
        else if (WIFSIGNALED(status))
            result.m_signal = WTERMSIG(status);
        size_t index = it->second;
        running.erase(it);
        done(index, result);
    }
    return ok;
}
