// Finding the extent of every top-level construct of a source file: the
// file's recorded compile command is run as a preprocessor and its output is
// scanned for where each function definition or declaration begins and ends.
#ifndef LOPWORT_BOUNDARIES_H
#define LOPWORT_BOUNDARIES_H

#include <string>
#include <vector>

class CEntityInstance;

// One construct of the wanted file: first and last line, first column and the
// column after the last character; dead when a dead function lies within.
// linestart: the construct begins with the first token of its line. The
// preprocessor does not always keep such a token's column (a line that
// begins with a macro expanding to nothing), but the token is still the
// first code of the source line.
typedef struct boundaryS {
    int lineno[2];
    int character[2];
    int dead;
    int linestart;
} boundaryT;

extern boundaryT* g_boundariesP;
extern int g_boundaries;
extern int g_boundaries_max;

// The preprocessor command of the last recovery: directory, compiler, "-E",
// "-ftabstop=1", the kept arguments, then null. Null, or a null first
// element, when there is none for the current file.
extern char** g_argsPP;
extern int g_args;
extern int g_max_args;

// Runs the preprocessor for the file containing the dead function eP and
// scans its output; returns the number of records made, 0 without a run.
int establish_boundaries(CEntityInstance* eP);

// The module's internals, declared here for its tests; no other module
// calls them.
//
// The private copy of the last "args" value, cut into the words of g_argsPP.
extern char* g_argsP;
// Builds g_argsP, g_args and g_argsPP from an "args" value. Returns 1, or 0
// for a malformed value, which leaves the vector empty.
int recover_args(const char* cargsP);
// Runs the command of argsPP in a child and scans its output; returns the
// child's exit status, or -1 when a signal ended it.
int call_cc(char** argsPP);
// Reads the preprocessed text from fd to its end, closes fd and fills the
// boundary array with the records of g_filenameP; cwdP is the directory
// the preprocessor ran in.
void scan(const char* cwdP, int fd);

// The same scan for several files at once, in one pass over the text: the
// records of each wanted file (a full path, as scan takes g_filenameP), in
// recordsR in the order of the names, are those scan would make for it.
void scan_files(const char* cwdP, int fd, const std::vector<std::string>& wantedFiles,
                std::vector<std::vector<boundaryT>>& recordsR);

#endif
