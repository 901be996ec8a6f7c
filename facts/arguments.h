// The two ways a recorded compile command is run again: by the recorded
// compiler as a preprocessor, to learn how its line markers spell file
// names, and by clang's front end, to parse the unit. Both must see the
// unit as the build saw it, minus what would write files or stop parsing.
#ifndef LOPWORT_FACTS_ARGUMENTS_H
#define LOPWORT_FACTS_ARGUMENTS_H

#include "compdb.h"
#include "compiler.h"

#include <set>
#include <string>
#include <vector>

// Every unit is read with _DEAD_ defined: the functions that an earlier
// lopwort run guarded out are then part of it, at their lines on disk, as
// lopwort's own run sees a file that holds guards. A refresh of a guarded
// tree thus finds the guarded functions that are used again.
extern const char kRevealGuards[];

// The recorded compiler, "-E", "-ftabstop=1", "-D_DEAD_" and the recorded
// arguments less those that lopwort drops for its own preprocessor run (-c, -g…, -S, -C…,
// -P…, -o and its file), and less the dependency-file options, which would
// overwrite the build's files.
std::vector<std::string> preprocessor_arguments(const CCompileCommand& cmd);

// A clang driver command line for parsing the unit: clangPath first,
// "-D_DEAD_", the recorded arguments less output, dependency, precompiled-header and unknown
// options, then -fsyntax-only, no warnings and the resource directory. With
// the compiler's defaults (defaultsP may be null), the unit is parsed in the
// compiler's language, default standard and include directories. Options
// that clang's driver does not know are reported in droppedR; those in
// rejected (spelled whole, or as the option's name) are left out.
std::vector<std::string> clang_arguments(const CCompileCommand& cmd, const std::string& clangPath,
                                         const std::string& resourceDir,
                                         const CCompilerDefaults* defaultsP,
                                         const std::set<std::string>& rejected,
                                         std::vector<std::string>& droppedR);

// The directories named by the recorded -isystem options, made absolute.
// Headers found there belong to the project although the compiler treats
// them as system headers.
std::vector<std::string> user_system_directories(const CCompileCommand& cmd);

// Every directory the recorded command adds to the include search (-I,
// -isystem, -iquote, -idirafter), made absolute.
std::vector<std::string> include_directories(const CCompileCommand& cmd);

#endif
