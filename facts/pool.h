// Running units N at a time, each in a child process. Processes rather than
// threads: a unit that crashes or exhausts memory in the parser takes only
// its own process down, and its memory goes back when it ends.
#ifndef LOPWORT_FACTS_POOL_H
#define LOPWORT_FACTS_POOL_H

#include <cstddef>
#include <functional>

struct CJobResult {
    int m_status = -1; // exit status, or -1 when killed
    int m_signal = 0;  // the signal that killed it
};

// Calls work(i) in a child process for every i below count, at most jobs at
// once, and done(i, result) in this process as each one ends (in the order
// they end). The child's standard output goes to standard error, so a
// child never writes into the fact file when that is standard output.
// Returns false when a child cannot be started.
bool run_in_children(size_t count, int jobs, const std::function<int(size_t)>& work,
                     const std::function<void(size_t, const CJobResult&)>& done);

#endif
