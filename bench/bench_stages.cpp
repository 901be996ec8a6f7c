// Times each stage of a report-only run on one fact file, by calling the
// stages the way the driver does, with a clock around each: so a slow run can
// be pinned on loading, consolidation, the search or the report. The report
// goes to /dev/null; the figures go to standard error, one "stage seconds
// cpu seconds" line each (on a shared machine the two differ by the time
// spent waiting for a core, and the resident memory when the stage ends),
// then the peak resident memory.
//
// usage: bench_stages FACTFILE
#include "TaInput.h"
#include "lopwort_analysis.h"
#include "lopwort_report.h"

#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

static double clockSeconds(clockid_t clock) {
    timespec ts;
    clock_gettime(clock, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// The resident memory now, in KB (0 when /proc cannot tell).
static long residentKb() {
    long pages = 0, resident = 0;
    FILE* f = fopen("/proc/self/statm", "r");
    if (f == nullptr)
        return 0;
    if (fscanf(f, "%ld %ld", &pages, &resident) != 2)
        resident = 0;
    fclose(f);
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Stamp {
    double wall, cpu;
    long rssKb;
    Stamp()
        : wall(clockSeconds(CLOCK_MONOTONIC)), cpu(clockSeconds(CLOCK_PROCESS_CPUTIME_ID)),
          rssKb(residentKb()) {}
};

static void print(const char* stageP, const Stamp& from, const Stamp& to) {
    fprintf(stderr, "%s %.3f cpu %.3f rss_kb %ld\n", stageP, to.wall - from.wall,
            to.cpu - from.cpu, to.rssKb);
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
    Stamp t0;
    ta.loadTA(argv[1]);
    Stamp t1;
    consolidate();
    Stamp t2;
    depth_search();
    Stamp t3;
    report_dead();
    fflush(stdout);
    Stamp t4;
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    print("load", t0, t1);
    print("consolidate", t1, t2);
    print("search", t2, t3);
    print("report", t3, t4);
    print("total", t0, t4);
    fprintf(stderr, "peak_rss_kb %ld\n", ru.ru_maxrss);
    return 0;
}
