// What the recorded compiler does when a command does not say: its default
// language standard, its built-in include directories and the macros that
// name it and its version. clang's front end has defaults of its own (an
// older C++ standard than g++ 12, its own identity macros), so a unit that
// relies on the compiler's defaults is parsed with the compiler's answers
// instead. Each compiler is asked once per distinct set of options that
// change those answers.
#ifndef LOPWORT_FACTS_COMPILER_H
#define LOPWORT_FACTS_COMPILER_H

#include "compdb.h"

#include <map>
#include <string>
#include <vector>

// What a compiler said about itself, for one language and option set.
struct CCompilerDefaults {
    bool m_known = false;                        // the compiler answered
    std::string m_error;                         // why not, when it did not
    std::string m_language;                      // "c", "c++", "objective-c", "objective-c++"
    std::map<std::string, std::string> m_macros; // predefined macros: name -> body
    std::vector<std::string> m_includeDirs;      // built-in <...> directories, in order
    std::string m_target;                        // "-dumpmachine": the target triple

    // The -std value that names the compiler's default for the language
    // ("gnu++17", "c11"), or empty when the macros do not tell.
    std::string standard() const;
};

// The --target option that makes clang parse for the compiler's target, or
// empty when clang's own default (hostTriple) has the same architecture.
std::string target_option(const CCompilerDefaults& defaults, const std::string& hostTriple);

// The language the compiler compiles a unit's file in: an explicit -x, else
// the file's extension as the driver reads it (g++ and c++ compile a .c file
// as C++). Empty when it is neither C nor C++ nor Objective-C.
std::string unit_language(const CCompileCommand& cmd);

// The question for one unit: the compiler, the language and the options that
// change its defaults (-std, -ansi, -m32/-m64, --sysroot, -target, -stdlib,
// -nostdinc…). Units with equal questions share one answer.
struct CCompilerQuestion {
    std::string m_compiler;
    std::string m_directory; // only where an option names a relative path
    std::string m_language;
    std::vector<std::string> m_options;

    bool operator<(const CCompilerQuestion& o) const;
};
CCompilerQuestion compiler_question(const CCompileCommand& cmd);

// Reads the answer to "-E -dM -v": macro definitions from standard output,
// the <...> search list from standard error.
void read_compiler_answer(const std::string& out, const std::string& err,
                          CCompilerDefaults& defaultsR);

// The answers of one run, asked for on first use.
class CCompilerCache {
  public:
    const CCompilerDefaults& defaults(const CCompilerQuestion& question);
    size_t asked() const { return m_answers.size(); }

  private:
    std::map<CCompilerQuestion, CCompilerDefaults> m_answers;
};

// A directory that holds the compiler's own headers (stddef.h, intrinsics):
// gcc's lib/gcc/TARGET/VERSION/include and include-fixed, clang's
// lib/clang/VERSION/include. clang's parse uses its own in their place.
bool is_compiler_internal_dir(const std::string& dir);

// The macros that tell one compiler from another and give its version:
// __GNUC__ and its kin, __VERSION__, __clang__ and its kin.
bool is_identity_macro(const std::string& name);

#endif
