// Running an outside program (the recorded compiler) the way lopwort runs
// it: in a given directory, with no environment, standard input from
// /dev/null, and its output collected. Both the preprocessor run of a unit
// and the questions put to a compiler about its defaults go through here.
#ifndef LOPWORT_FACTS_PROCESS_H
#define LOPWORT_FACTS_PROCESS_H

#include <string>
#include <vector>

enum class ERunOutcome {
    Exited,      // ran to its end; m_status holds the exit status
    Killed,      // ended by a signal
    CannotStart, // no process (pipe, fork, chdir or exec failed)
};

struct CProgramRun {
    ERunOutcome m_outcome = ERunOutcome::CannotStart;
    int m_status = 0;
    std::string m_out;   // standard output
    std::string m_err;   // standard error, when asked for
    std::string m_error; // why it could not start

    bool succeeded() const { return m_outcome == ERunOutcome::Exited && m_status == 0; }
    // A short account of a failed run for messages.
    std::string failure(const std::string& program) const;
};

// Runs args[0] (an absolute path; no search of PATH) with args as its
// argument vector in directory. Standard error is collected when keepErr,
// otherwise thrown away. Both pipes are drained together, so a program that
// writes much to either never blocks.
CProgramRun run_program(const std::vector<std::string>& args, const std::string& directory,
                        bool keepErr);

#endif
