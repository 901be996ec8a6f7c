// The dead-function report and the per-file source handling it drives.
#include "lopwort_report.h"

#include "EntityInstance.h"
#include "RelationInstance.h"
#include "boundaries.h"
#include "lopwort.h"
#include "lopwort_analysis.h"
#include "lopwort_document.h"
#include "lopwort_source.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace {

const char* textOrNull(const char* textP) { return textP ? textP : "(null)"; }

bool hasType(CEntityInstance* eP, const char* typeP) { return strcmp(eP->getType(), typeP) == 0; }

void printRelated(const char* arrowP, CEntityInstance* eP) {
    printf("\t\t%s(%s) %s%s\n", arrowP, eP->getType(), textOrNull(eP->getLabel()),
           eP->m_visited ? " **VISIted**" : "");
}

// Forgets the boundary records and the preprocessor command of the file
// before, so nothing of it is applied to the next file.
void forgetFile() {
    g_boundaries = 0;
    if (g_argsPP != nullptr)
        g_argsPP[0] = nullptr;
}

bool samePath(const char* aP, const char* bP) { return aP == bP || strcmp(aP, bP) == 0; }

// Which boundary records of the current file hold the line of a live
// function. A guard around such a record would take the live function out
// with the dead one (two functions written by one macro on one line, say),
// so it is never guarded.
struct liveLinesT {
    std::vector<int> lines; // lines of the file's reached functions, ascending
    std::vector<char> held; // per record: it holds one of them

    // firstP is the first function of the file in the ordered list.
    void establish(CEntityInstance* firstP, int records) {
        lines.clear();
        for (CEntityInstance* eP = firstP; eP && samePath(eP->m_fullpathP, firstP->m_fullpathP);
             eP = eP->m_nextInOrderP)
            if (eP->m_visited == 1 && eP->m_lineno != NO_LINENO)
                lines.push_back(eP->m_lineno);
        std::sort(lines.begin(), lines.end());
        held.assign(static_cast<size_t>(std::max(records, 0)), 0);
        for (int i = 0; i < records && i < g_boundaries; ++i) {
            const boundaryT& b = g_boundariesP[i];
            auto it = std::lower_bound(lines.begin(), lines.end(), b.lineno[0]);
            held[static_cast<size_t>(i)] = it != lines.end() && *it <= b.lineno[1];
        }
    }
};

// The -D and -U arguments common to the compile commands of every file
// entity that holds a function.
std::vector<std::string> shared_settings() {
    std::vector<std::string> common;
    std::unordered_set<CEntityInstance*> seen;
    bool first = true;
    for (CEntityInstance* eP = g_headP; eP; eP = eP->m_nextInOrderP) {
        CEntityInstance* fileP = eP->getParent();
        if (fileP == nullptr || !seen.insert(fileP).second)
            continue;
        const char* argsP = fileP->getAttribute("args");
        if (argsP == nullptr || !recover_args(argsP))
            continue;
        std::vector<std::string> mine;
        for (char** argPP = g_argsPP; *argPP != nullptr; ++argPP)
            if ((*argPP)[0] == '-' && ((*argPP)[1] == 'D' || (*argPP)[1] == 'U'))
                mine.push_back(*argPP);
        if (first) {
            common = mine;
            first = false;
            continue;
        }
        auto missing = [&](const std::string& a) {
            return std::find(mine.begin(), mine.end(), a) == mine.end();
        };
        common.erase(std::remove_if(common.begin(), common.end(), missing), common.end());
    }
    forgetFile();
    return common;
}

// The strip mode for the files under the directory that hold no dead
// function now: the guards of an earlier run may still hide functions that
// are live again, so every such file that holds them is stripped and
// written back, without a header when nothing in it is dead.
void strip_unguarded_files(const std::unordered_set<std::string>& handled) {
    const char* lastP = nullptr;
    for (CEntityInstance* eP = g_headP; eP; eP = eP->m_nextInOrderP) {
        if (lastP != nullptr && samePath(eP->m_fullpathP, lastP))
            continue;
        lastP = eP->m_fullpathP;
        if (handled.count(lastP) != 0)
            continue;
        placeE place = where_is(lastP);
        struct stat st;
        // Files that are not there or cannot be read are no concern of a
        // run that has nothing to do in them.
        if (place == Place_outside || stat(lastP, &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_size == 0 || access(lastP, R_OK) != 0)
            continue;
        g_filenameP = lastP;
        g_changed = 0;
        forgetFile();
        if (load_source() != 0 || !loaded_source_holds_guards())
            continue;
        if (place == Place_through_link) {
            report_outside(lastP);
            ++g_skipped_files;
            continue;
        }
        update_source();
    }
    g_changed = 0;
}

} // namespace

int test_template(CEntityInstance* eP) {
    int result = 0;
    for (CRelationInstance* relP = eP->m_dstRelListP; relP; relP = relP->m_next_dstP) {
        CEntityInstance* templateP = relP->m_srcP;
        if (!hasType(templateP, "T"))
            continue;
        result = 1;
        for (CRelationInstance* madeP = templateP->m_srcRelListP; madeP; madeP = madeP->m_next_srcP) {
            if (madeP->m_dstP->m_visited != 0)
                return 2;
        }
    }
    return result;
}

void show_callers(CEntityInstance* eP) {
    if (g_called_from) {
        for (CRelationInstance* relP = eP->m_dstRelListP; relP; relP = relP->m_next_dstP)
            printRelated("<- ", relP->m_srcP);
        for (CRelationInstance* relP = eP->m_srcRelListP; relP; relP = relP->m_next_srcP) {
            CEntityInstance* addressP = relP->m_dstP;
            if (!hasType(addressP, "FA"))
                continue;
            for (CRelationInstance* takerP = addressP->m_dstRelListP; takerP;
                 takerP = takerP->m_next_dstP) {
                if (takerP->m_srcP != eP)
                    printRelated("<-&", takerP->m_srcP);
            }
        }
    }
    if (g_calls_to) {
        for (CRelationInstance* relP = eP->m_srcRelListP; relP; relP = relP->m_next_srcP)
            printRelated("-> ", relP->m_dstP);
    }
}

void report_dead(CReportDocument* documentP) {
    int skip = 0;
    int load_failed = 1;
    int records = -1;
    // The first function, live or dead, of the path met last.
    CEntityInstance* runP = nullptr;
    liveLinesT live;
    // The files that hold dead functions.
    std::unordered_set<std::string> handled;
    if (g_mode == Strip_source || g_mode == Write_source || g_mode == Update_source)
        use_shared_settings(shared_settings());

    for (CEntityInstance* eP = g_headP; eP; eP = eP->m_nextInOrderP) {
        if (runP == nullptr || !samePath(eP->m_fullpathP, runP->m_fullpathP))
            runP = eP;
        if (eP->m_visited != 0)
            continue;

        if (strcmp(eP->m_fullpathP, g_filenameP) != 0) {
            update_source();
            g_changed = 0;
            g_filenameP = eP->m_fullpathP;
            load_failed = 1;
            records = -1;
            forgetFile();
            placeE place = where_is(g_filenameP);
            skip = place != Place_inside;
            if (place == Place_through_link)
                report_outside(g_filenameP);
            handled.insert(g_filenameP);
            const char* textP = nullptr;
            if (skip) {
                ++g_skipped_files;
                if (g_report == Report_verbose)
                    textP = "[skipped]";
            } else {
                textP = "";
                if (g_mode != No_source) {
                    load_failed = load_source();
                    if (load_failed != 0)
                        textP = " [can't read]";
                }
            }
            if (g_report != No_report && textP != nullptr)
                printf("%s %s\n", g_filenameP, textP);
        }

        int lineno = eP->m_lineno;
        int endLine = 0;
        const char* msgP = nullptr;
        if (skip) {
            ++g_skipped;
            if (documentP != nullptr)
                documentP->addSkipped(eP);
            if (g_report != Report_verbose)
                continue;
            msgP = "skipped";
        } else {
            ++g_dead_functions;
            bool final = false;
            if (g_mode != No_source && load_failed) {
                msgP = "can't read";
                final = true;
            } else if (g_mode != No_source && lineno == NO_LINENO) {
                msgP = "unknown lineno";
                final = true;
            } else {
                switch (g_mode) {
                case No_source:
                    msgP = "dead code";
                    final = true;
                    break;
                case Read_source:
                    msgP = "read";
                    break;
                case Strip_source:
                    msgP = "stripped";
                    break;
                case Write_source:
                case Update_source: {
                    int t = test_template(eP);
                    bool write = g_mode == Write_source;
                    if (t == 2) {
                        msgP = "dead template function";
                        final = true;
                    } else if (t == 1) {
                        msgP = write ? "wrote template" : "update template";
                    } else {
                        msgP = write ? "wrote" : "update";
                    }
                    break;
                }
                }
            }
            if (!final) {
                if (records == -1) {
                    records = establish_boundaries(eP);
                    live.establish(runP, records);
                }
                bool found = false;
                for (int i = 0; i < records && i < g_boundaries; ++i) {
                    boundaryT* bP = &g_boundariesP[i];
                    if (bP->lineno[0] <= lineno && bP->lineno[1] >= lineno) {
                        if (live.held[static_cast<size_t>(i)]) {
                            msgP = "shares a live line";
                        } else {
                            bP->dead = 1;
                            g_changed = 1;
                        }
                        endLine = bP->lineno[1];
                        found = true;
                        break;
                    }
                }
                if (!found) {
                    ++g_failed;
                    msgP = "scan failed";
                }
            }
            if (documentP != nullptr)
                documentP->addDead(eP, msgP, endLine);
        }

        if (g_report != No_report) {
            printf("\t(%s) %s", eP->getType(), textOrNull(eP->getLabel()));
            if (lineno != NO_LINENO)
                printf(":%d", lineno);
            printf(" %s\n", msgP);
            if (g_called_from || g_calls_to)
                show_callers(eP);
        }
    }
    update_source();
    if (g_mode == Strip_source)
        strip_unguarded_files(handled);
}
