// The command line and the run driver: option parsing into the run settings,
// the safety rule for the rewriting modes, the run itself and the summary.
#include "lopwort.h"

#include "TaInput.h"
#include "lopwort_analysis.h"
#include "lopwort_document.h"
#include "lopwort_report.h"
#include "lopwort_why.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

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

void find_dead(const char* filenameP) { find_dead(filenameP, nullptr, nullptr); }

void find_dead(const char* filenameP, CReachRecord* recordP, CReportDocument* documentP) {
    ta.loadTA(filenameP);
    consolidate();
    depth_search(recordP);
    report_dead(documentP);
}

static void usage(const char* nameP) {
    fprintf(stderr,
            "usage: %s [-r/ead] [-s/trip] [[-b/ackup] -w/rite|-u/pdate] [-v/erbose] [-t/race] "
            "[-T/ree] [--why NAME]... [--json FILE] [--sarif FILE] [<] <tafile>\n",
            nameP);
}

namespace {

// What the long options ask for besides the report.
struct extrasT {
    std::vector<std::string> why;
    const char* jsonP = nullptr;
    const char* sarifP = nullptr;
};

enum longOptionE { Long_taken, Long_unknown, Long_no_value };

// --why NAME, --json FILE, --sarif FILE, each also as --OPTION=VALUE.
longOptionE long_option(int argc, const char** argv, int* iP, extrasT* extrasP) {
    const char* argP = argv[*iP];
    static const char* const names[] = {"--why", "--json", "--sarif"};
    for (const char* nameP : names) {
        size_t n = strlen(nameP);
        if (strncmp(argP, nameP, n) != 0 || (argP[n] != '\0' && argP[n] != '='))
            continue;
        const char* valueP = nullptr;
        if (argP[n] == '=')
            valueP = argP + n + 1;
        else if (*iP + 1 < argc)
            valueP = argv[++*iP];
        if (valueP == nullptr || valueP[0] == '\0')
            return Long_no_value;
        if (nameP[2] == 'w')
            extrasP->why.push_back(valueP);
        else if (nameP[2] == 'j')
            extrasP->jsonP = valueP;
        else
            extrasP->sarifP = valueP;
        return Long_taken;
    }
    return Long_unknown;
}

bool isStdout(const char* pathP) { return pathP != nullptr && strcmp(pathP, "-") == 0; }

} // namespace

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

    // A document on standard output takes the place of the whole plain
    // output, the version line included, so that it parses.
    bool documentOnStdout = false;
    for (int i = 1; i + 1 < argc; ++i)
        if ((strcmp(argv[i], "--json") == 0 || strcmp(argv[i], "--sarif") == 0) &&
            isStdout(argv[i + 1]))
            documentOnStdout = true;
    for (int i = 1; i < argc; ++i)
        if (strcmp(argv[i], "--json=-") == 0 || strcmp(argv[i], "--sarif=-") == 0)
            documentOnStdout = true;
    if (!documentOnStdout)
        printf("%s %s Apr 12 2011 00:14:59\n", nameP, kLopwortVersion);

    extrasT extras;
    for (int i = 1; i < argc; ++i) {
        const char* argP = argv[i];
        if (argP[0] == '-' && argP[1] == '-') {
            longOptionE result = long_option(argc, argv, &i, &extras);
            if (result == Long_taken)
                continue;
            fprintf(stderr, result == Long_no_value ? "Option %s needs a value\n"
                                                    : "Unknown option %s\n",
                    argP);
            usage(nameP);
            return 1;
        }
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

    if (isStdout(extras.jsonP) && isStdout(extras.sarifP)) {
        fputs("--json - and --sarif - cannot both write to standard output\n", stderr);
        return 1;
    }

    std::unique_ptr<CReachRecord> recordP;
    if (!extras.why.empty())
        recordP.reset(new CReachRecord);
    std::unique_ptr<CReportDocument> documentP;
    if (extras.jsonP != nullptr || extras.sarifP != nullptr)
        documentP.reset(new CReportDocument);
    if (documentOnStdout)
        g_report = No_report;

    find_dead(taFileP, recordP.get(), documentP.get());
    if (!documentOnStdout)
        printSummary();
    if (recordP) {
        fflush(stdout);
        explain_why(ta.getEntityClass(nullptr), extras.why, *recordP,
                    documentOnStdout ? stderr : stdout);
    }
    bool written = true;
    if (extras.jsonP != nullptr)
        written = write_document(extras.jsonP, documentP->json(taFileP)) && written;
    if (extras.sarifP != nullptr)
        written = write_document(extras.sarifP, documentP->sarif()) && written;
    // A rewrite that failed left its file as it was, and a document that
    // could not be written is missing: a script must not take the run for
    // a success.
    return g_unwritten != 0 || !written ? 5 : 0;
}
