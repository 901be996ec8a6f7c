// The dead-function report: walks the ordered function list, prints every
// unreached function file by file with its status, and in the source modes
// drives loading, boundary finding and rewriting of each file.
#ifndef LOPWORT_LOPWORT_REPORT_H
#define LOPWORT_LOPWORT_REPORT_H

class CEntityInstance;
class CReportDocument;

// documentP, when given, gathers every dead and skipped function with its
// status for the JSON and SARIF documents.
void report_dead(CReportDocument* documentP = nullptr);
// 0: not made from a template; 1: made from templates whose functions are
// all dead; 2: made from a template that still has a live function.
int test_template(CEntityInstance* eP);
// The -f and -F lists of one dead function.
void show_callers(CEntityInstance* eP);

#endif
