// Measures how fast a TA fact file loads into the fact base, and, for scale,
// how fast `wc -w` reads the same file in the same run. The file is read
// once beforehand so that both measurements start from the page cache.
//
// usage: bench_load FACTFILE [--no-wc]
#include "EntityCache.h"
#include "TaInput.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

static void warm(const char* pathP) {
    int fd = open(pathP, O_RDONLY);
    if (fd < 0)
        return;
    static char block[1 << 20];
    while (read(fd, block, sizeof block) > 0) {
    }
    close(fd);
}

// Runs `wc -w PATH` with its output discarded; returns the seconds taken.
static double timeWc(const char* pathP) {
    double start = now();
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        execlp("wc", "wc", "-w", pathP, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    double seconds = now() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return seconds;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s FACTFILE [--no-wc]\n", argv[0]);
        return 1;
    }
    const char* pathP = argv[1];
    struct stat st;
    if (stat(pathP, &st) != 0) {
        perror(pathP);
        return 1;
    }
    double mb = st.st_size / (1024.0 * 1024.0);
    warm(pathP);

    double wcSeconds = -1;
    if (argc < 3 || strcmp(argv[2], "--no-wc") != 0)
        wcSeconds = timeWc(pathP);

    double start = now();
    ta.loadTA(pathP);
    double seconds = now() - start;

    printf("file:     %s, %.1f MB\n", pathP, mb);
    printf("entities: %d\n", CEntityCache::m_count);
    printf("loadTA:   %.3f s, %.1f MB/s\n", seconds, mb / seconds);
    if (wcSeconds > 0)
        printf("wc -w:    %.3f s, %.1f MB/s (loading takes %.2f times as long)\n", wcSeconds,
               mb / wcSeconds, seconds / wcSeconds);
    return 0;
}
