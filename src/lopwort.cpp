// The command line and the run driver: option parsing into the run settings,
// the safety rule for the rewriting modes, the run itself and the summary.
#include "lopwort.h"

#include "TaInput.h"
#include "lopwort_analysis.h"
#include "lopwort_report.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

modeE g_mode = No_source;
reportE g_report = Report;
int g_backup = 0;
int g_trace_flag = 0;
int g_tree_flag = 0;
int g_debug_flag = 0;
int g_called_from = 0;
int g_calls_to = 0;
const char* g_underpathP = nullptr;
int g_underpath_lth = 0;

int g_lines_code = 0;
int g_stripped = 0;
int g_dead_functions = 0;
int g_failed = 0;
int g_updated = 0;
int g_unwritten = 0;
int g_skipped = 0;
int g_skipped_files = 0;

const char* g_filenameP = "";
int g_changed = 0;

void find_dead(const char* filenameP) {
    ta.loadTA(filenameP);
    consolidate();
    depth_search();
    report_dead();
}

static void usage(const char* nameP) {
    fprintf(stderr,
            "usage: %s [-r/ead] [-s/trip] [[-b/ackup] -w/rite|-u/pdate] [-v/erbose] [-t/race] "
            "[-T/ree] [<] <tafile>\n",
            nameP);
}

static void printSummary() {
    printf("%d lines of code #ifdef'd out\n", g_lines_code);
    if (g_stripped != 0)
        printf("%d #ifdef _DEAD_ statements removed\n", g_stripped);
    printf("%d functions are dead\n", g_dead_functions);
    if (g_failed != 0)
        printf("%d functions had no known boundaries\n", g_failed);
    if (g_updated != 0)
        printf("%d files updated\n", g_updated);
    if (g_unwritten != 0)
        printf("%d files could not be written\n", g_unwritten);
    if (g_skipped != 0)
        printf("%d functions %d files not updated because not under %s\n", g_skipped,
               g_skipped_files, g_underpathP ? g_underpathP : "(null)");
}

int lopwort_main(int argc, const char** argv) {
    static char cwd[2024];
    const char* nameP = argc > 0 && argv[0] ? argv[0] : "lopwort";
    const char* taFileP = nullptr;

    printf("%s 2.0.5 Apr 12 2011 00:14:59\n", nameP);

    for (int i = 1; i < argc; ++i) {
        const char* argP = argv[i];
        if (argP[0] != '-') {
            if (taFileP != nullptr) {
                fputs("Multiple ta_files\n", stderr);
                fprintf(stderr, "usage: %s [<] <tafile>\n", nameP);
                return 1;
            }
            taFileP = argP;
            continue;
        }
        // Only the second character counts: -verbose is -v, -write is -w.
        switch (argP[1]) {
        case 'r':
            g_mode = Read_source;
            break;
        case 's':
            g_mode = Strip_source;
            break;
        case 'w':
            g_mode = Write_source;
            break;
        case 'u':
            g_mode = Update_source;
            break;
        case 'b':
            g_backup = 1;
            break;
        case 'v':
            g_report = Report_verbose;
            break;
        case 't':
            g_trace_flag = 1;
            break;
        case 'T':
            g_tree_flag = 1;
            break;
        case 'd':
            g_debug_flag = 1;
            break;
        case 'f':
            g_called_from = 1;
            break;
        case 'F':
            g_calls_to = 1;
            break;
        case 'p':
            // -pDIR, or -p DIR whatever DIR holds; a trailing -p unsets it.
            if (argP[2] != '\0')
                g_underpathP = argP + 2;
            else if (i + 1 < argc)
                g_underpathP = argv[++i];
            else
                g_underpathP = nullptr;
            if (g_underpathP != nullptr && strcmp(g_underpathP, ".") == 0) {
                if (getcwd(cwd, sizeof(cwd)) == nullptr) {
                    fputs("Can't identify CWD\n", stderr);
                    return 1;
                }
                g_underpathP = cwd;
            }
            break;
        default:
            fprintf(stderr, "Unknown option %s\n", argP);
            usage(nameP);
            return 1;
        }
    }

    if (g_underpathP != nullptr) {
        g_underpath_lth = static_cast<int>(strlen(g_underpathP));
    } else if (g_mode > Read_source) {
        fputs("The -s,-w and -u option require the -p option\n", stderr);
        fputs("This is a safety measure\n", stderr);
        return 1;
    }

    find_dead(taFileP);
    printSummary();
    // A rewrite that failed left its file as it was; a script must not
    // take the run for a success.
    return g_unwritten != 0 ? 5 : 0;
}
