// How the recorded compiler spells the names of the files of a unit in its
// line markers. lopwort matches a function's "file" against those names
// byte for byte, and gcc and clang spell a header found next to its
// includer differently, so the spelling is learned from the compiler itself.
#ifndef LOPWORT_FACTS_SPELLING_H
#define LOPWORT_FACTS_SPELLING_H

#include "compdb.h"

#include <map>
#include <string>

// Runs the recorded compiler as lopwort will (in the recorded directory,
// with an empty environment) and fills spellingsR with the real path of
// every file named by a line marker and the name as spelled, made absolute
// the way lopwort makes it (directory, "/", name) when it is relative. The
// first spelling of a file wins. Returns false with a message when the
// compiler cannot be run or fails.
// The preprocessed text itself is left in textR.
bool learn_spellings(const CCompileCommand& cmd, std::map<std::string, std::string>& spellingsR,
                     std::string& textR, std::string& errorR);

// The recorded compiler's preprocessing of a unit: whether it ran, the
// spellings it taught, its text, and why it failed.
struct CPreprocessed {
    bool m_ran = false;
    std::map<std::string, std::string> m_spellings;
    std::string m_text;
    std::string m_error;
};
CPreprocessed preprocess_unit(const CCompileCommand& cmd);

// Reads line markers from preprocessed text, as lopwort's scanner does: a
// line "#", blanks, a line number not starting with 0, blanks, and a name in
// double quotes. Names in angle brackets are skipped.
void scan_line_markers(const std::string& text, const std::string& directory,
                       std::map<std::string, std::string>& spellingsR);

// The real path of a file, or an empty text when it does not exist.
std::string real_path(const std::string& path);

#endif
