// The driver: run settings from the command line, the counters that the
// summary prints, and the run from loading the facts to the summary.
#ifndef LOPWORT_LOPWORT_H
#define LOPWORT_LOPWORT_H

// The version the first line of every run names.
inline constexpr const char* kLopwortVersion = "2.0.5";

// The order matters: modes above Read_source need -p and write guards.
enum modeE { No_source = 0, Read_source = 1, Strip_source = 2, Write_source = 3, Update_source = 4 };
enum reportE { No_report = 0, Report = 1, Report_verbose = 2 };

extern modeE g_mode;
extern reportE g_report;
extern int g_backup;
extern int g_trace_flag;
extern int g_tree_flag;
extern int g_debug_flag;
extern int g_called_from;
extern int g_calls_to;
extern const char* g_underpathP;
extern int g_underpath_lth;

extern int g_lines_code;
extern int g_stripped;
extern int g_dead_functions;
extern int g_failed;
extern int g_updated;
extern int g_unwritten; // files whose rewrite failed
extern int g_skipped;
extern int g_skipped_files;

// The current source file of the report: its full path (starts as ""), its
// text and length once loaded, and whether it must be written back.
extern const char* g_filenameP;
extern char* g_sourceP;
extern int g_source_lth;
extern int g_changed;

// Per-file source handling, called by the report at each change of file:
// load_source reads g_filenameP into g_sourceP (0 on success; in
// Strip_source it also removes old guards), update_source writes the file
// back with guards around the dead records when g_changed is set.
int load_source();
void strip_source();
void update_source();
// Whether the text load_source read last holds the header or a guard of an
// earlier run.
bool loaded_source_holds_guards();

// Where a file lies against the -p directory: under it (by its spelling, or
// by its real path under the directory's real path), outside it, or under
// it by its spelling but outside it through a link, which a source mode
// never writes through.
enum placeE { Place_inside, Place_outside, Place_through_link };
placeE where_is(const char* pathP);
// Writes the "** " line of a file left untouched because it lies outside
// the -p directory through a link.
void report_outside(const char* nameP);

// Runs the whole analysis on one fact file; null reads standard input.
void find_dead(const char* filenameP);
// The same, with the search noting its steps in recordP and the report
// gathering its functions in documentP (either may be null).
class CReachRecord;
class CReportDocument;
void find_dead(const char* filenameP, CReachRecord* recordP, CReportDocument* documentP);

// The program's entry point, kept apart from main() so tests can link it.
int lopwort_main(int argc, const char** argv);

#endif
