// Running a source file's recorded compile command as a preprocessor. The
// fact extractor stored the command as one text; it is cut back into words,
// stripped of the options that would stop the compiler from writing
// preprocessed text on standard output, and run in a child process whose
// output the scanner reads through a pipe. The scanner lives in
// boundaries_scan.cpp.
#include "boundaries.h"

#include "EntityInstance.h"
#include "lopwort.h"
#include "util.h"
#include "xmalloc.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

boundaryT* g_boundariesP = nullptr;
int g_boundaries = 0;
int g_boundaries_max = 0;

char* g_argsP = nullptr;
char** g_argsPP = nullptr;
int g_args = 0;
int g_max_args = -1;

// The two options every run adds after the compiler: preprocess only, and a
// tab counts as one column so that columns are byte positions in the line.
static char s_preprocess[] = "-E";
static char s_tabstop[] = "-ftabstop=1";
// Added for a file that holds the guards of an earlier run: with _DEAD_
// defined the guarded functions are compiled in, at their lines on disk, so
// that their extents are found again. It is not part of the recorded
// command, so the header of the rewritten file never makes it a condition.
static char s_revealGuards[] = "-D_DEAD_";

static int isSeparator(int c) {
    switch (c) {
    case '\t':
    case '\n':
    case '\f':
    case '\r':
    case 27:
    case ' ':
    case '(':
    case ')':
    case ',':
    case '{':
    case '}':
    case 127:
        return 1;
    default:
        return 0;
    }
}

// One pass over the copy of the value. Counts the words into g_args, the two
// constants included; when load is set also cuts the words in place and
// fills g_argsPP, which must have room. Returns 0, or -1 when the value is
// malformed; the counting pass finds every fault, so a loading pass over the
// same text never fails.
static int cutWords(char* textP, int load) {
    enum { Between = 0, Quoted = 1, Bare = 2 };
    int state = Between;
    char* inP = textP;
    char* outP = textP;
    char** vectorPP = g_argsPP;

    g_args = 0;
    for (;;) {
        int c = static_cast<unsigned char>(*inP++);
        if (c == '\0')
            break;
        int ends = 0;
        if (state == Between) {
            if (isSeparator(c))
                continue;
            if (c == '"') {
                // The word begins after the quote.
                state = Quoted;
                outP = inP;
                if (load)
                    *vectorPP = outP;
                continue;
            }
            state = Bare;
            outP = inP - 1;
            if (load)
                *vectorPP = outP;
        } else if (state == Quoted) {
            if (isSeparator(c))
                continue; // separators inside quotes are dropped, not kept
            if (c == '"')
                ends = 1;
        } else {
            if (isSeparator(c))
                ends = 1;
            else if (c == '"')
                return -1; // a quote inside a bare word
        }
        if (ends) {
            if (load) {
                *outP = '\0';
                ++vectorPP;
            }
            state = Between;
            ++g_args;
            if (g_args == 2) {
                // Directory and compiler complete: the constants follow them.
                if (load) {
                    *vectorPP++ = s_preprocess;
                    *vectorPP++ = s_tabstop;
                }
                g_args += 2;
            }
            if (g_args > INT_MAX - 8)
                outofmemory(); // no vector this large could be allocated
            continue;
        }
        if (c == '\\') {
            c = static_cast<unsigned char>(*inP++);
            if (c == '\0')
                return -1; // a lone backslash at the end
            if (c == 'n')
                c = '\n';
            else if (c == 'r')
                c = '\r';
        }
        if (load)
            *outP = static_cast<char>(c);
        ++outP;
    }
    if (state != Between)
        return -1; // the value ends inside a word
    if (load)
        *vectorPP = nullptr;
    return 0;
}

// Drops the options that would make the compiler compile, keep comments,
// suppress line markers or name an output file; the directory and the
// compiler (elements 0 and 1) are never looked at.
static void filterArgs() {
    int out = 2;
    for (int i = 2; g_argsPP[i] != nullptr; ++i) {
        const char* argP = g_argsPP[i];
        if (argP[0] == '-') {
            char second = argP[1];
            if (second == 'C' || second == 'P' || second == 'S' || second == 'c' || second == 'g')
                continue;
            if (second == 'o') {
                // "-o" takes the next word with it; "-ofile" goes alone.
                if (argP[2] == '\0' && g_argsPP[i + 1] != nullptr)
                    ++i;
                continue;
            }
        }
        g_argsPP[out++] = g_argsPP[i];
    }
    g_argsPP[out] = nullptr;
}

// Leaves no vector for the current file: what the guard writer then sees is
// empty rather than the command of another file.
static void emptyArgs() {
    if (g_argsPP != nullptr)
        g_argsPP[0] = nullptr;
    g_args = 0;
}

int recover_args(const char* cargsP) {
    xfree1(reinterpret_cast<void**>(&g_argsP));
    g_argsP = dupstring(cargsP);

    if (cutWords(g_argsP, 0) != 0 || g_args < 3) {
        emptyArgs();
        return 0;
    }
    if (g_args > g_max_args) {
        size_t bytes = (static_cast<size_t>(g_args) + 2) * sizeof(char*);
        if (bytes > UINT_MAX)
            outofmemory();
        xfree1(reinterpret_cast<void**>(&g_argsPP));
        g_argsPP = static_cast<char**>(xmalloc1(static_cast<unsigned int>(bytes)));
        g_max_args = g_args;
    }
    cutWords(g_argsP, 1);
    filterArgs();
    return 1;
}

// Ends the child before or instead of the preprocessor. _exit, not exit: the
// child must not flush stdio buffers or run exit handlers it inherited from
// the parent, which would repeat the parent's output or, after the dup2,
// send it down the pipe into the scan.
[[noreturn]] static void childExit(int code) {
    fprintf(stderr, "Exit code %d\n", code);
    fflush(stderr);
    _exit(code);
}

int call_cc(char** argsPP) {
    const char* cwdP = argsPP[0];
    const char* programP = argsPP[1];

    if (g_trace_flag) {
        for (char** argPP = argsPP; *argPP != nullptr; ++argPP)
            fprintf(stderr, "%s ", *argPP);
        fputc('\n', stderr);
    }

    int fds[2];
    int ret = pipe(fds);
    if (ret != 0) {
        fprintf(stderr, "Can't create pipe ret=%d\n", ret);
        error_exit(1);
    }

    // Whatever the report has buffered goes out now, once, instead of being
    // copied into the child.
    fflush(stdout);
    fflush(stderr);

    pid_t pid = fork();
    if (pid < 0) {
        fprintf(stderr, "Fork to run %s failed\n", programP);
        perror("");
        error_exit(2);
    }
    if (pid == 0) {
        if (chdir(cwdP) != 0) {
            fprintf(stderr, "Can't change directory to %s\n", cwdP);
            perror("");
            childExit(1);
        }
        close(fds[0]);
        if (fds[1] != 1) {
            ret = dup2(fds[1], 1);
            if (ret != 1) {
                fprintf(stderr, "Write to pipe (dup2) failed ret=%d\n", ret);
                perror("");
                childExit(1);
            }
            close(fds[1]);
        }
        char* emptyEnvironment[] = {nullptr};
        execve(programP, argsPP + 1, emptyEnvironment);
        fprintf(stderr, "Return from execve %s\n", programP);
        childExit(1);
    }

    close(fds[1]);
    scan(cwdP, fds[0]);

    // Waiting for this child by its id: a child the process inherited from
    // whoever started it must not be mistaken for the preprocessor.
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited != pid) {
        fprintf(stderr, "Wait for %s failed\n", programP);
        perror("");
        error_exit(3);
    }
    if ((status & 0x7f) != 0) {
        fprintf(stderr, "%s did not terminate normally\n", programP);
        return -1;
    }
    return (status >> 8) & 0xff;
}

int establish_boundaries(CEntityInstance* eP) {
    CEntityInstance* fileP = eP->getParent();
    const char* argsP = fileP != nullptr ? fileP->getAttribute("args") : nullptr;
    if (argsP == nullptr || !recover_args(argsP)) {
        if (argsP != nullptr)
            fprintf(stderr, "** %s has malformed compile arguments\n",
                    g_filenameP != nullptr ? g_filenameP : "");
        else
            emptyArgs();
        g_boundaries = 0;
        return 0;
    }
    // The exit status decides nothing: whatever text the preprocessor wrote
    // before failing has been scanned, and its records stand.
    if (!loaded_source_holds_guards()) {
        call_cc(g_argsPP);
        return g_boundaries;
    }
    std::vector<char*> argv;
    for (char** argPP = g_argsPP; *argPP != nullptr; ++argPP) {
        argv.push_back(*argPP);
        if (*argPP == s_tabstop)
            argv.push_back(s_revealGuards);
    }
    argv.push_back(nullptr);
    call_cc(argv.data());
    return g_boundaries;
}
