// Why a function is live: for each name given to --why, the functions it
// names, and for each either that it is dead or one shortest chain of steps
// from a root to it, as the breadth-first search recorded them.
#ifndef LOPWORT_LOPWORT_WHY_H
#define LOPWORT_LOPWORT_WHY_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

class CEntityClass;
class CEntityInstance;
class CReachRecord;

// A text of the facts without the quotes put around one with blanks in it
// ("vtable for D"); the text itself when it has none.
std::string_view unquoted(const char* textP);

// Whether nameP names the function eP: its label (quotes aside) or the
// label's last component after "::", its id or the id's part after a unit
// prefix ("FILE::"), its mangled name, or FILE:LINE, where FILE is its path
// or the end of its path after a "/".
bool names_function(CEntityInstance* eP, const char* nameP);

// Prints the answer for every name on outP: a line "why NAME: ..." for each
// function it names, followed for a live one by its chain, one step a line.
void explain_why(CEntityClass* classListP, const std::vector<std::string>& names,
                 const CReachRecord& record, FILE* outP);

#endif
