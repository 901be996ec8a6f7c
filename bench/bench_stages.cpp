// Times each stage of a report-only run on one fact file, by calling the
// stages the way the driver does, with a clock around each: so a slow run can
// be pinned on loading, consolidation, the search or the report. The report
// goes to /dev/null; the figures go to standard error, one "stage seconds"
// line each, then the peak resident memory.
//
// usage: bench_stages FACTFILE
#include "TaInput.h"
#include "lopwort_analysis.h"
#include "lopwort_report.h"

#include <cstdio>
#include <ctime>
#include <sys/resource.h>

static double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s FACTFILE\n", argv[0]);
        return 1;
    }
    if (freopen("/dev/null", "w", stdout) == nullptr) {
        perror("/dev/null");
        return 1;
    }
    double t0 = now();
    ta.loadTA(argv[1]);
    double t1 = now();
    consolidate();
    double t2 = now();
    depth_search();
    double t3 = now();
    report_dead();
    fflush(stdout);
    double t4 = now();
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    fprintf(stderr, "load %.3f\nconsolidate %.3f\nsearch %.3f\nreport %.3f\ntotal %.3f\n",
            t1 - t0, t2 - t1, t3 - t2, t4 - t3, t4 - t0);
    fprintf(stderr, "peak_rss_kb %ld\n", ru.ru_maxrss);
    return 0;
}
