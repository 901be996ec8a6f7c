// The compilation database: which translation units the build compiles, in
// which directory and with which arguments. It is the extractor's only view
// of the build, so every unit is parsed and later preprocessed exactly as
// recorded here.
#ifndef LOPWORT_FACTS_COMPDB_H
#define LOPWORT_FACTS_COMPDB_H

#include <string>
#include <vector>

struct CCompileCommand {
    std::string m_directory;              // where the build ran the compiler
    std::string m_file;                   // the source file as recorded
    std::string m_path;                   // the source file made absolute
    // Element 0 is the compiler as recorded (wrappers dropped), and every
    // response file (@file) is read in its place, so that lopwort's filter of
    // output options sees the options the file held.
    std::vector<std::string> m_arguments;
    std::string m_compiler;               // the compiler as an absolute path
};

// Reads a compile_commands.json. Entries may give "arguments" (a list) or
// "command" (one text cut into words as a POSIX shell would). Returns false
// with a message in errorR when the file cannot be read or is not a
// database; entries that lack what is needed are skipped with a warning in
// warningsR.
bool read_compilation_database(const std::string& path, std::vector<CCompileCommand>& commandsR,
                               std::string& errorR, std::vector<std::string>& warningsR);

// Cuts a shell command line into words: blanks separate, single quotes keep
// everything, double quotes keep everything but backslash escapes of
// " \ $ `, and a backslash outside quotes keeps the next character.
// Returns false when a quote is left open.
bool split_command(const std::string& command, std::vector<std::string>& wordsR);

// Drops compiler wrappers (ccache, sccache, distcc, icecc) from the front of
// a command, so that the compiler itself comes first. A wrapper followed by
// an option or a file instead of a compiler stands for "cc".
void strip_compiler_wrappers(std::vector<std::string>& argsR);

// Reads response files: every "@file" argument is replaced by the words of
// the file (cut as gcc cuts them: blanks separate, quotes and backslashes
// escape), recursively. A file that cannot be read stays a literal argument,
// as gcc keeps it. Relative names are taken from directory.
std::vector<std::string> expand_response_files(const std::vector<std::string>& args,
                                               const std::string& directory);

// The compiler as an absolute path: as recorded when it has a slash
// (relative ones taken from the directory), otherwise looked up in PATH.
// Returns the recorded text unchanged when nothing is found.
std::string absolute_compiler(const std::string& compiler, const std::string& directory);

#endif
