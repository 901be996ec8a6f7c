// The parts of the per-file source handling that tests look at directly: the
// stamp and date every guard of one rewrite carries, taken from a given time
// so that their format can be checked without waiting for a particular clock.
#ifndef LOPWORT_LOPWORT_SOURCE_H
#define LOPWORT_LOPWORT_SOURCE_H

#include <ctime>
#include <string>
#include <vector>

// Room for the stamp (14 digits for years up to 9999) and for the 24
// characters of the date, each with its NUL.
enum { GUARD_STAMP_SIZE = 32, GUARD_DATE_SIZE = 32 };

// stampP gets the UTC time as YYYYMMDDhhmmss, dateP the local time as ctime
// gives it without the line feed.
void guard_stamp(time_t now, char* stampP, char* dateP);

// The -D and -U arguments that every unit of the facts was compiled with.
// Once given, the header of a rewritten file makes its conditions of these
// alone: a file compiled in several configurations (a static and a shared
// library, say) then has its guards in force in each of them, as every other
// file's are, so that no configuration keeps a function whose callee is
// guarded out. Until given, every -D and -U of the file's own command
// counts.
void use_shared_settings(const std::vector<std::string>& settings);

// Puts text in the place of the file pathP (a link is followed) the way
// sources are rewritten: a temporary file beside it, renamed over it once
// whole. 0, or the errno of the failure (negative for a file that changed
// meanwhile); the file is then as it was.
int replace_file(const char* pathP, const std::string& text);

#endif
