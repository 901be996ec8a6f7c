// Measures how fast a TA fact file loads into the fact base, and, for scale,
// how fast `wc -w` reads the same file in the same run. The file is read
// once beforehand so that both measurements start from the page cache.
//
// With --tokenize it only splits the file into tokens and values (which are
// interned), to show what the tokenizer itself costs.
//
// usage: bench_load FACTFILE [--no-wc | --tokenize]
#include "EntityCache.h"
#include "TAStreamTokenizer.h"
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
        fprintf(stderr, "usage: %s FACTFILE [--no-wc | --tokenize]\n", argv[0]);
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

    const char* modeP = argc > 2 ? argv[2] : "";
    double wcSeconds = -1;
    if (strcmp(modeP, "--no-wc") != 0)
        wcSeconds = timeWc(pathP);

    printf("file:     %s, %.1f MB\n", pathP, mb);
    double start = now();
    if (strcmp(modeP, "--tokenize") == 0) {
        CStreamTokenizer* tokP = new CStreamTokenizer();
        tokP->open(pathP);
        long tokens = 0;
        for (int t; (t = tokP->nextToken()) != TT_EOF; ++tokens) {
            if (t == '=')
                tokP->nextAVI();
        }
        tokP->close();
        double seconds = now() - start;
        printf("tokens:   %ld\n", tokens);
        printf("tokenize: %.3f s, %.1f MB/s\n", seconds, mb / seconds);
    } else {
        ta.loadTA(pathP);
        double seconds = now() - start;
        printf("entities: %d\n", CEntityCache::m_count);
        printf("loadTA:   %.3f s, %.1f MB/s\n", seconds, mb / seconds);
    }
    double seconds = now() - start;
    if (wcSeconds > 0)
        printf("wc -w:    %.3f s, %.1f MB/s (ours takes %.2f times as long)\n", wcSeconds,
               mb / wcSeconds, seconds / wcSeconds);
    return 0;
}
