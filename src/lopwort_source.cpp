// Per-file source handling of the driver: reading a source file whole, taking
// out the guards of an earlier run, and writing the file back with a header
// and guards around its dead constructs. A source file is the user's own work,
// so it is only ever replaced whole, by a rename, once its new text is safely
// on disk; and every guard written here can be taken out again to the byte.
#include "lopwort.h"
#include "lopwort_source.h"

#include "boundaries.h"
#include "xmalloc.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

char* g_sourceP = nullptr;
int g_source_lth = 0;

void report_outside(const char* nameP) {
    fprintf(stderr, "** %s lies outside %s through a link: left untouched\n", nameP,
            g_underpathP);
}

namespace {

// The beginnings of what an earlier run wrote: header, start and end guard.
const char kHeader[] = "#if !defined(_DEAD_)";
const char kStartGuard[] = "#ifndef _DEAD_";
const char kEndGuard[] = "#endif /* _DEAD_";

// The position map of a stripped text takes four bytes per byte of text, and
// every allocation size must fit an unsigned int.
const off_t kMaxSource = 0x3ffffff0;

// The path whose text g_sourceP holds; null when the last load failed, so
// that a failed load can never lead to another file's text being written.
char* s_loadedP = nullptr;
// The file as it was when it was read. A file rewritten in place must still
// be that very file, unchanged, when its new text takes its place: writing
// over one deleted, replaced or edited since would bring it back or lose
// what was done to it.
struct stat s_loadedStat;
// Whether the text as read held the header or a guard of an earlier run.
bool s_heldGuards = false;

// The error of a file that is no longer the one read; errno values are
// positive.
const int kChangedSinceRead = -1;
// The error of a write whose target lies outside the -p directory.
const int kOutsideDirectory = -2;

// The boundary records describe the file as it is on disk, but stripping
// changes the text in memory. When stripping took something out, s_readP
// keeps the text as read and s_originP[i] gives, for byte i of the stripped
// text, its position in the text as read, so that guards found in the text
// as read can be put at the matching place of the stripped one.
char* s_readP = nullptr;
int* s_originP = nullptr;
int s_read_lth = -1; // bytes of text both have room for, NUL not counted
int s_mapped = 0;    // s_readP and s_originP describe the text at s_mapTextP
const char* s_mapTextP = nullptr;
int s_kept = 0; // length of the stripped text

// Whether g_sourceP is the text that the map describes.
bool mapped() {
    return s_mapped && g_sourceP == s_mapTextP && strlen(g_sourceP) == static_cast<size_t>(s_kept);
}

char* concat(const char* aP, const char* bP) {
    size_t a = strlen(aP), b = strlen(bP);
    char* p = static_cast<char*>(xmalloc1(static_cast<unsigned int>(a + b + 1)));
    memcpy(p, aP, a);
    memcpy(p + a, bP, b + 1);
    return p;
}

// ---------------------------------------------------------------- output ---

// One file being written. The text goes to a temporary file beside the
// target; only when all of it is written, flushed and closed does a rename
// put it in the target's place, so a failure at any point leaves the target
// as it was.
struct outputT {
    char* targetP = nullptr; // the file replaced, symbolic links followed
    const struct stat* readP = nullptr; // what the target must still be, for a rewrite in place
    char* tmpP = nullptr;
    int fd = -1;
    bool confine = false; // the target must lie inside the -p directory
    int err = 0; // errno of the first failure, 0 while all is well
    size_t used = 0;
    char buf[1 << 16];
};

// One file is written at a time (the backup is finished before the source is
// rewritten), so one output with its buffer serves for all.
outputT* fresh_output() {
    static outputT s_output;
    s_output.targetP = nullptr;
    s_output.readP = nullptr;
    s_output.confine = false;
    s_output.tmpP = nullptr;
    s_output.fd = -1;
    s_output.err = 0;
    s_output.used = 0;
    return &s_output;
}

// The file that writing to nameP must replace: a symbolic link stays a link
// and its target is rewritten. Null, with errno set, for a loop of links.
char* follow_links(const char* nameP) {
    char* pathP = dupstring(nameP);
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(pathP, &st) != 0 || !S_ISLNK(st.st_mode))
            return pathP;
        size_t room = st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 4096;
        char* linkP = static_cast<char*>(xmalloc1(static_cast<unsigned int>(room)));
        ssize_t n = readlink(pathP, linkP, room);
        if (n < 0 || static_cast<size_t>(n) >= room) {
            int err = n < 0 ? errno : ENAMETOOLONG;
            xfree1(reinterpret_cast<void**>(&linkP));
            xfree1(reinterpret_cast<void**>(&pathP));
            errno = err;
            return nullptr;
        }
        linkP[n] = '\0';
        char* slashP = strrchr(pathP, '/');
        if (linkP[0] != '/' && slashP != nullptr) {
            // A relative link is relative to the directory holding it.
            slashP[1] = '\0';
            char* joinedP = concat(pathP, linkP);
            xfree1(reinterpret_cast<void**>(&linkP));
            linkP = joinedP;
        }
        xfree1(reinterpret_cast<void**>(&pathP));
        pathP = linkP;
    }
    xfree1(reinterpret_cast<void**>(&pathP));
    errno = ELOOP;
    return nullptr;
}

// ----------------------------------------------------------- confinement ---

// -p confines rewriting to a directory, and a link inside it may lead out of
// it (a vendored library linked in, a shared source tree). What a rewrite
// would write is therefore judged by its real path.

// The real path of what pathP names: realpath's for a path that exists;
// for one that does not (a copy about to be made), that of its directory
// followed by its last component. Empty when neither resolves.
std::string real_location(const char* pathP) {
    std::string real;
    if (char* bufP = realpath(pathP, nullptr)) {
        real = bufP;
        free(bufP);
        return real;
    }
    const char* slashP = strrchr(pathP, '/');
    std::string dir = slashP == nullptr  ? std::string(".")
                      : slashP == pathP ? std::string("/")
                                         : std::string(pathP, static_cast<size_t>(slashP - pathP));
    if (char* bufP = realpath(dir.c_str(), nullptr)) {
        real = bufP;
        free(bufP);
        if (real.back() != '/')
            real += '/';
        real += slashP != nullptr ? slashP + 1 : pathP;
    }
    return real;
}

// The real path of the -p directory. -p is a prefix of paths, so when it
// names no directory the real path of the directory it lies in, with its
// last component, is a prefix too.
struct rootT {
    std::string given;
    std::string real;
    bool directory = false;
};

const rootT& confinement_root() {
    static rootT s_root;
    static bool s_known = false;
    if (!s_known || s_root.given != g_underpathP) {
        s_root.given = g_underpathP;
        struct stat st;
        s_root.directory = stat(g_underpathP, &st) == 0 && S_ISDIR(st.st_mode);
        s_root.real = real_location(g_underpathP);
        if (s_root.real.empty())
            s_root.real = s_root.given;
        else if (!s_root.directory && s_root.given.back() == '/')
            s_root.real += '/';
        s_known = true;
    }
    return s_root;
}

bool under_root(const std::string& real) {
    const rootT& root = confinement_root();
    if (real.compare(0, root.real.size(), root.real) != 0)
        return false;
    return !root.directory || real.size() == root.real.size() || root.real == "/" ||
           real[root.real.size()] == '/';
}

// Whether writing to nameP, its links followed, stays inside the directory.
bool writes_inside(const char* nameP) {
    if (g_underpathP == nullptr)
        return true;
    char* targetP = follow_links(nameP);
    if (targetP == nullptr)
        return true; // a loop of links: the write itself fails and says so
    std::string real = real_location(targetP);
    xfree1(reinterpret_cast<void**>(&targetP));
    return real.empty() || under_root(real);
}

void out_discard(outputT* oP) {
    if (oP->fd >= 0)
        close(oP->fd);
    oP->fd = -1;
    if (oP->tmpP != nullptr)
        unlink(oP->tmpP);
    xfree1(reinterpret_cast<void**>(&oP->tmpP));
    xfree1(reinterpret_cast<void**>(&oP->targetP));
}

// 0 when the file at pathP is still the file read, unchanged; else the
// errno of looking at it, EISDIR or kChangedSinceRead. The rename that puts
// the new text in its place bypasses the file's own permissions, so the
// test also asks whether it could be opened for writing, as "wb" would.
int still_the_file_read(const char* pathP, const struct stat* readP) {
    struct stat st;
    if (stat(pathP, &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (st.st_dev != readP->st_dev || st.st_ino != readP->st_ino ||
        st.st_size != readP->st_size || st.st_mtim.tv_sec != readP->st_mtim.tv_sec ||
        st.st_mtim.tv_nsec != readP->st_mtim.tv_nsec)
        return kChangedSinceRead;
    return faccessat(AT_FDCWD, pathP, W_OK, AT_EACCESS) == 0 ? 0 : errno;
}

// Starts writing nameP. A file that exists keeps its permission bits (and,
// where allowed, its owner); a new one gets newMode less the umask, as a
// file made by open would. With oP->readP set, nameP must be the file read,
// unchanged (still_the_file_read). False, with oP->err set, on failure.
bool out_open(outputT* oP, const char* nameP, mode_t newMode) {
    oP->targetP = follow_links(nameP);
    if (oP->targetP == nullptr) {
        oP->err = errno;
        return false;
    }
    if (oP->confine && g_underpathP != nullptr) {
        std::string real = real_location(oP->targetP);
        if (!real.empty() && !under_root(real)) {
            oP->err = kOutsideDirectory;
            out_discard(oP);
            return false;
        }
    }
    if (oP->readP != nullptr && (oP->err = still_the_file_read(oP->targetP, oP->readP)) != 0) {
        out_discard(oP);
        return false;
    }
    struct stat st;
    bool exists = stat(oP->targetP, &st) == 0;
    mode_t mode;
    if (exists) {
        if (!S_ISREG(st.st_mode)) {
            oP->err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
            out_discard(oP);
            return false;
        }
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        oP->err = errno;
        out_discard(oP);
        return false;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = newMode & ~mask & 07777;
    }
    oP->tmpP = concat(oP->targetP, ".XXXXXX");
    oP->fd = mkstemp(oP->tmpP);
    if (oP->fd < 0) {
        oP->err = errno;
        xfree1(reinterpret_cast<void**>(&oP->tmpP)); // nothing was created
        out_discard(oP);
        return false;
    }
    if (exists && (st.st_uid != geteuid() || st.st_gid != getegid())) {
        if (fchown(oP->fd, st.st_uid, st.st_gid) != 0) {
            // Not allowed to give it away: the file becomes ours.
        }
    }
    if (fchmod(oP->fd, mode) != 0) {
        oP->err = errno;
        out_discard(oP);
        return false;
    }
    return true;
}

void out_flush(outputT* oP) {
    size_t done = 0;
    while (oP->err == 0 && done < oP->used) {
        ssize_t n = write(oP->fd, oP->buf + done, oP->used - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            oP->err = n < 0 ? errno : EIO;
        else
            done += static_cast<size_t>(n);
    }
    oP->used = 0;
}

void out_write(outputT* oP, const char* p, size_t n) {
    while (n > 0 && oP->err == 0) {
        if (oP->used == sizeof(oP->buf))
            out_flush(oP);
        size_t part = std::min(n, sizeof(oP->buf) - oP->used);
        memcpy(oP->buf + oP->used, p, part);
        oP->used += part;
        p += part;
        n -= part;
    }
}

void out_puts(outputT* oP, const char* textP) {
    out_write(oP, textP, strlen(textP));
}

// Puts the written file in the target's place; false, with oP->err set and
// the target untouched, when any write, the flush, the close or the rename
// failed.
bool out_commit(outputT* oP) {
    out_flush(oP);
    if (oP->err == 0 && fsync(oP->fd) != 0)
        oP->err = errno;
    int fd = oP->fd;
    oP->fd = -1;
    if (close(fd) != 0 && oP->err == 0)
        oP->err = errno;
    // Asked again at the last moment: the file may have changed while the
    // new text was being written.
    if (oP->err == 0 && oP->readP != nullptr)
        oP->err = still_the_file_read(oP->targetP, oP->readP);
    if (oP->err == 0 && rename(oP->tmpP, oP->targetP) != 0)
        oP->err = errno;
    if (oP->err != 0) {
        out_discard(oP);
        return false;
    }
    xfree1(reinterpret_cast<void**>(&oP->tmpP));
    xfree1(reinterpret_cast<void**>(&oP->targetP));
    return true;
}

// Copies the source file as it is on disk to "<file>.bak"; 0, or the errno
// of the failure.
int copy_to_backup(const char* bakP) {
    int in = open(g_filenameP, O_RDONLY);
    if (in < 0)
        return errno;
    struct stat st;
    if (fstat(in, &st) != 0) {
        int err = errno;
        close(in);
        return err;
    }
    outputT* oP = fresh_output();
    oP->confine = true;
    if (out_open(oP, bakP, st.st_mode & 0777)) {
        for (;;) {
            char chunk[1 << 14];
            ssize_t n = read(in, chunk, sizeof(chunk));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                oP->err = errno;
            if (n <= 0)
                break;
            out_write(oP, chunk, static_cast<size_t>(n));
        }
        out_commit(oP);
    }
    close(in);
    return oP->err;
}

// ------------------------------------------------------------ guard text ---

size_t identifier_length(const char* p) {
    size_t n = 0;
    auto alpha = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    };
    if (!alpha(p[0]))
        return 0;
    while (alpha(p[n]) || (p[n] >= '0' && p[n] <= '9'))
        ++n;
    return n;
}

// Whether a macro's value may stand in an #if comparison without breaking
// the header: an identifier, or an integer literal with an optional sign and
// suffix. Anything else (a path, a version like 1.2.3, a string, an empty
// value) would make the file fail to compile.
bool comparable_value(const char* p) {
    size_t n = identifier_length(p);
    if (n > 0)
        return p[n] == '\0';
    if (*p == '-' || *p == '+')
        ++p;
    if (*p == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        if (!isxdigit(static_cast<unsigned char>(*p)))
            return false;
        while (isxdigit(static_cast<unsigned char>(*p)))
            ++p;
    } else if (*p == '0') {
        while (*p >= '0' && *p <= '7')
            ++p;
    } else if (*p >= '1' && *p <= '9') {
        while (*p >= '0' && *p <= '9')
            ++p;
    } else {
        return false;
    }
    static const char* const suffixes[] = {"",    "u",   "U",   "l",   "L",   "ul",  "uL", "Ul",
                                           "UL",  "lu",  "lU",  "Lu",  "LU",  "ll",  "LL", "ull",
                                           "uLL", "Ull", "ULL", "llu", "llU", "LLu", "LLU"};
    for (const char* suffixP : suffixes)
        if (strcmp(p, suffixP) == 0)
            return true;
    return false;
}

// One condition of the header for a -D or -U argument, so that the guard
// macro is defined only under the settings the file was analysed with.
void write_condition(outputT* oP, const char* argP) {
    if (argP[0] != '-' || (argP[1] != 'D' && argP[1] != 'U'))
        return;
    const char* nameP = argP + 2;
    size_t n = identifier_length(nameP);
    if (n == 0)
        return; // "-D" alone names its macro in the next argument: no condition
    const char* restP = nameP + n;
    if (argP[1] == 'D' && *restP == '=' && comparable_value(restP + 1)) {
        out_puts(oP, "&& defined(");
        out_write(oP, nameP, n);
        out_puts(oP, ") && (");
        out_write(oP, nameP, n);
        out_puts(oP, " == ");
        out_puts(oP, restP + 1);
        out_puts(oP, ") ");
    } else {
        out_puts(oP, argP[1] == 'U' ? "&& !defined(" : "&& defined(");
        out_write(oP, nameP, n);
        out_puts(oP, ") ");
    }
}

std::vector<std::string> s_shared;
bool s_sharedKnown = false;

void write_header(outputT* oP, const char* stampP) {
    out_puts(oP, "#if !defined(_DEAD_) ");
    if (g_argsPP != nullptr)
        for (char** argPP = g_argsPP; *argPP != nullptr; ++argPP)
            if (!s_sharedKnown ||
                std::find(s_shared.begin(), s_shared.end(), *argPP) != s_shared.end())
                write_condition(oP, *argPP);
    out_puts(oP, "\n#define _DEAD_");
    out_puts(oP, stampP);
    out_puts(oP, "\n#endif /* _DEAD_ */\n");
}

// ------------------------------------------------------------- the walk ---

// A forward walk over a source text that counts lines and columns the way
// the boundary records count them in the preprocessed text: comments are
// left out of the column count. It also follows the conditionals of the text
// (#if ... #endif), so that a guard pair never cuts one apart: each branch
// of a conditional is a region with a number of its own, and both guards of
// a pair must stand in the same region.
//
// The records count the lines of the file as it is on disk, which in a strip
// run still holds the guards of the earlier run, while what is written is
// the stripped text. The walk then goes over the text as read, but of the
// bytes that stripping took out it counts only the line feeds, so that
// comments, directives and continued lines are those of the text written.
struct walkT {
    const char* textP;            // the text walked, as read
    const char* outP;             // the text written
    const int* originP = nullptr; // after a strip: where each written byte was read
    size_t outLth = 0;
    size_t keptAt = 0; // the first written byte not read before pos
    size_t pos = 0;
    int line = 1;
    int col = 0;
    int comment = 0;   // 0 code, 1 block comment, 2 line comment
    char lastCode = 0; // last counted code character of the line before pos, blanks aside
    int depth = 0;     // braces open since the last start guard
    bool braced = false;
    bool lineStart = true;    // only blanks and comments since a line feed that ends a line
    bool directiveLine = false; // the line is a directive of the preprocessor
    std::vector<int> regions; // the region of each open conditional
    int regionsMade = 0;

    int region() const { return regions.empty() ? 0 : regions.back(); }

    // The written byte that the byte read at readPos becomes, or the first
    // one written after it when stripping took it out.
    size_t place(size_t readPos) const {
        if (originP == nullptr)
            return readPos;
        return static_cast<size_t>(
            std::lower_bound(originP, originP + outLth, static_cast<int>(readPos)) - originP);
    }
    bool removed(size_t readPos) {
        if (originP == nullptr)
            return false;
        while (keptAt < outLth && static_cast<size_t>(originP[keptAt]) < readPos)
            ++keptAt;
        return keptAt == outLth || static_cast<size_t>(originP[keptAt]) != readPos;
    }
    // The text written from the byte read at readPos on.
    const char* out(size_t readPos) const { return outP + place(readPos); }
    // The byte read that follows readPos in the text written.
    size_t nextKept(size_t readPos) const {
        if (originP == nullptr)
            return readPos + 1;
        size_t k = place(readPos) + 1;
        return k < outLth ? static_cast<size_t>(originP[k]) : strlen(textP);
    }
    // Moves on to the byte read at readPos, past the pair of a comment's
    // opening or closing; bytes taken out between the two count their lines.
    void jump(size_t readPos) {
        for (size_t p = pos + 1; p < readPos; ++p)
            if (textP[p] == '\n') {
                ++line;
                col = 0;
            }
        pos = readPos;
    }
    void directive(const char* hashP);
};

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// The position before the backslash that makes the line go on past the
// line feed at lfPos (blanks may stand between them, as compilers accept),
// or lfPos itself when the line ends there.
size_t continuation(const char* textP, size_t lfPos) {
    for (size_t at = lfPos;;) {
        size_t j = at;
        while (j > 0 && blank(textP[j - 1]))
            --j;
        if (j == 0 || textP[j - 1] != '\\')
            return at;
        at = j - 1;
    }
}

// Whether a guard's leading line feed put at the byte read at readPos would
// continue the line before it.
bool continues(const walkT* wP, size_t readPos) {
    size_t at = wP->place(readPos);
    return continuation(wP->outP, at) != at;
}

// The name of the directive whose "#" is at hashP, read as compilers read
// it: blanks, comments and backslash-newlines may stand before and inside
// it; a carriage return ends the line there (compilers take a lone one for a
// line end too), so "#\rendif" names nothing. Names longer than any
// conditional's are cut short, which is all the caller needs.
std::string directive_name(const char* hashP) {
    std::string name;
    const char* p = hashP + 1;
    while (name.size() < 16) {
        if (*p == ' ' || *p == '\t' || *p == '\f' || *p == '\v') {
            if (!name.empty())
                break;
            ++p;
        } else if (p[0] == '/' && p[1] == '*') {
            const char* closeP = strstr(p + 2, "*/");
            if (closeP == nullptr || !name.empty())
                break;
            p = closeP + 2;
        } else if (*p == '\\') {
            const char* q = p + 1;
            while (blank(*q) && *q != '\r')
                ++q;
            if (*q == '\r' && q[1] == '\n')
                ++q;
            if (*q != '\n')
                break;
            p = q + 1;
        } else if (isalnum(static_cast<unsigned char>(*p)) || *p == '_') {
            name += *p++;
        } else {
            break;
        }
    }
    return name;
}

// A directive at a line's start, in the text written.
void walkT::directive(const char* hashP) {
    const std::string name = directive_name(hashP);
    auto is = [&](const char* wordP) { return name == wordP; };
    if (is("if") || is("ifdef") || is("ifndef")) {
        regions.push_back(++regionsMade);
    } else if (is("else") || is("elif") || is("elifdef") || is("elifndef")) {
        if (!regions.empty())
            regions.back() = ++regionsMade;
    } else if (is("endif")) {
        if (!regions.empty())
            regions.pop_back();
    }
}

enum seekE {
    Seek_met,    // the position is at textP[pos], which is counted in col
    Seek_gone,   // the walk was already past the position's line
    Seek_passed, // the line feed that ends the position's line was just passed
    Seek_end     // the text ended first
};

seekE seek(walkT* wP, int line, int col) {
    if (wP->line > line)
        return Seek_gone;
    const char* textP = wP->textP;
    for (;;) {
        char c = textP[wP->pos];
        if (c == '\0')
            return Seek_end;
        if (wP->removed(wP->pos)) {
            // Only its line feeds count, as lines of the file on disk.
            ++wP->pos;
            if (c == '\n') {
                ++wP->line;
                wP->col = 0;
                if (wP->line > line)
                    return Seek_passed;
            }
            continue;
        }
        size_t next = wP->nextKept(wP->pos);
        bool counted = false;
        // Before the first token of a line the preprocessor keeps every
        // column, a comment's included; further on it folds comments away,
        // so they do not count there.
        if (wP->comment == 0) {
            if (c == '/' && textP[next] == '*') {
                // The "*" cannot close.
                if (wP->lineStart)
                    wP->col += 2;
                wP->jump(next + 1);
                wP->comment = 1;
                continue;
            }
            if (c == '/' && textP[next] == '/') {
                wP->comment = 2;
            } else {
                ++wP->col;
                counted = true;
            }
        } else if (wP->comment == 1) {
            if (c == '*' && textP[next] == '/') {
                if (wP->lineStart)
                    wP->col += 2;
                wP->jump(next + 1);
                wP->comment = 0;
                continue;
            }
            if (wP->lineStart && c != '\n')
                ++wP->col;
        } else if (c == '\n') {
            wP->comment = 0;
        }
        // Column 0 asks for the first code character of the line.
        if (wP->line == line &&
            (col > 0 ? wP->col == col
                     : counted && wP->lineStart && !blank(c) && c != '\n'))
            return Seek_met;
        ++wP->pos;
        if (counted && !blank(c) && c != '\n') {
            if (c == '#' && wP->lineStart) {
                wP->directive(wP->out(wP->pos - 1));
                wP->directiveLine = true;
            }
            wP->lineStart = false;
            wP->lastCode = c;
            if (c == '{') {
                ++wP->depth;
                wP->braced = true;
            } else if (c == '}') {
                --wP->depth;
            }
        }
        if (c == '\n') {
            ++wP->line;
            wP->col = 0;
            wP->lastCode = 0;
            // A backslash before the line feed makes the next line part of
            // this one: no directive can begin it.
            wP->lineStart = !continues(wP, wP->pos - 1);
            wP->directiveLine = wP->directiveLine && !wP->lineStart;
            if (wP->line > line)
                return Seek_passed;
        }
    }
}

// Whether the text written from the byte read at readPos on, blanks aside,
// begins with a "#": put at the start of a line by a guard, it would become
// a directive.
bool hash_follows(const walkT* wP, size_t readPos) {
    const char* p = wP->out(readPos);
    while (blank(*p))
        ++p;
    return *p == '#';
}

// Whether the byte read at readPos ends a line of the text written.
bool line_ends(const walkT* wP, size_t readPos) {
    char c = *wP->out(readPos);
    return c == '\n' || c == '\0';
}

// The counts here and in the preprocessed text agree for the first token of
// a line, but not always further on (the preprocessor folds blanks and
// comments between tokens into one blank, and expands macros). A guard put
// by a column that disagrees would cut a construct or a token apart, so a
// position met is taken only where a construct can begin: at the first code
// character of its line or after a ";" or "}" on it, never inside a
// comment or a directive or before a "#" ...
bool can_begin_here(const walkT* wP) {
    char c = wP->textP[wP->pos];
    if (blank(c) || c == '\n' || c == '#' || wP->directiveLine || wP->comment != 0)
        return false;
    return wP->lastCode == 0 || wP->lastCode == ';' || wP->lastCode == '}';
}

// ... and where one can end: right after the "}" that closes its body, or
// after the ";" of a construct that has no body, and again not inside a
// directive or before a "#".
bool can_end_here(const walkT* wP) {
    if (wP->depth != 0 || wP->directiveLine || wP->comment != 0 || hash_follows(wP, wP->pos))
        return false;
    return wP->braced ? wP->lastCode == '}' : wP->lastCode == ';';
}

// Where an end guard goes when its position was not met: at the end of the
// record's last line, or of the last line that one goes on into past a
// backslash (the guard's own line feed would otherwise join the guard to
// it), unless that ends inside a block comment, where a directive would not
// count; then right after that comment closes. Failing all, at the end of
// the text, before any backslash that ends it. kNowhere where no end guard
// can go: the text ends inside a block comment.
const size_t kNowhere = static_cast<size_t>(-1);

size_t fallback_end(walkT* wP, seekE how) {
    const char* textP = wP->textP;
    for (;;) {
        // A line feed that stripping took out joins lines too.
        while (how == Seek_passed && (!line_ends(wP, wP->pos - 1) || continues(wP, wP->pos - 1)))
            how = seek(wP, wP->line, INT_MAX);
        if (how == Seek_passed && wP->comment != 1)
            return wP->pos - 1; // before the line feed
        if (how != Seek_passed)
            break;
        for (how = Seek_end; textP[wP->pos] != '\0'; ++wP->pos) {
            bool gone = wP->removed(wP->pos);
            if (!gone && textP[wP->pos] == '*' && textP[wP->nextKept(wP->pos)] == '/') {
                wP->jump(wP->nextKept(wP->pos) + 1);
                wP->comment = 0;
                how = Seek_met;
                break;
            }
            if (textP[wP->pos] == '\n') {
                ++wP->line;
                wP->col = 0;
            }
        }
        if (how == Seek_end)
            break;
        if (!hash_follows(wP, wP->pos))
            return wP->pos;
        how = seek(wP, wP->line, INT_MAX); // a "#" follows: on to the end of its line
    }
    if (how != Seek_end || wP->comment == 1)
        return kNowhere;
    // Before the backslashes that end the text written.
    size_t end = wP->place(wP->pos), at = continuation(wP->outP, end);
    return at == end ? wP->pos : static_cast<size_t>(wP->originP ? wP->originP[at] : at);
}

// The end guard's place for a record whose start guard goes at the walk's
// position; kNowhere when none can pair with it.
size_t find_end(walkT* wP, const boundaryT* bP) {
    wP->depth = 0;
    wP->braced = false;
    seekE how = seek(wP, bP->lineno[1], bP->character[1]);
    if (how == Seek_met && !can_end_here(wP))
        how = seek(wP, bP->lineno[1], INT_MAX); // on to the end of the line
    if (how != Seek_met)
        return fallback_end(wP, how);
    --wP->col; // the character met counts again as the walk goes on
    return wP->pos;
}

bool guardable(const boundaryT* bP) {
    if (bP->dead == 0 || bP->lineno[1] <= 0)
        return false;
    // Records whose end does not follow their start cannot be guarded.
    if (bP->lineno[0] < 1 || bP->character[0] < 1)
        return false;
    return bP->lineno[1] > bP->lineno[0] ||
           (bP->lineno[1] == bP->lineno[0] && bP->character[1] > bP->character[0]);
}

// Where the guards of g_sourceP go: a pair around every dead record whose
// start and end can be placed. Positions are found by walking the text as
// read; after stripping they are carried over to the stripped text through
// the map. The plan is made before anything is written, so that a file that
// gets no guard at all can be given back without a header.
struct guardPlanT {
    struct pairT {
        size_t start, end; // bytes of g_sourceP before which the guards go
        int lines;         // the record's line span
    };
    std::vector<pairT> pairs;

    void make(bool useMap) {
        pairs.clear();
        walkT walk;
        walk.textP = useMap ? s_readP : g_sourceP;
        walk.outP = g_sourceP;
        if (useMap) {
            walk.originP = s_originP;
            walk.outLth = static_cast<size_t>(s_kept);
        }
        for (int i = 0; i < g_boundaries && g_boundariesP != nullptr; ++i) {
            const boundaryT* bP = &g_boundariesP[i];
            if (!guardable(bP))
                continue;
            if (seek(&walk, bP->lineno[0], bP->linestart ? 0 : bP->character[0]) != Seek_met)
                continue; // the start is not met on its line: no guards
            // Whether taken or not, the character met counts again as the
            // walk goes on.
            --walk.col;
            if (!can_begin_here(&walk))
                continue;
            // The end is looked for ahead: a record whose guards could not
            // pair up is given up, and so is one whose guards would stand in
            // different branches of the text's conditionals, which would cut
            // them apart.
            walkT ahead = walk;
            size_t end = find_end(&ahead, bP);
            if (end == kNowhere || end < walk.pos || ahead.region() != walk.region())
                continue;
            pairs.push_back({walk.place(walk.pos), walk.place(end),
                             bP->lineno[1] - bP->lineno[0] + 1});
            walk = std::move(ahead);
        }
    }

    // Writes g_sourceP with the planned guards; g_lines_code counts their
    // lines.
    void write(outputT* oP, const char* stampP, const char* dateP) const {
        size_t done = 0;
        auto guard = [&](size_t at, const char* beforeP, const char* middleP,
                         const char* afterP) {
            out_write(oP, g_sourceP + done, at - done);
            done = at;
            out_puts(oP, beforeP);
            out_puts(oP, stampP);
            out_puts(oP, middleP);
            out_puts(oP, dateP);
            out_puts(oP, afterP);
        };
        for (const pairT& pair : pairs) {
            guard(pair.start, "\n#ifndef _DEAD_", " /* ", " */\n");
            guard(pair.end, "\n#endif /* _DEAD_", " ", " */\n");
            g_lines_code += pair.lines;
        }
        out_write(oP, g_sourceP + done, strlen(g_sourceP + done));
    }
};

void report_cant_write(const char* nameP, int err) {
    fprintf(stderr, "%s Can't write\n", nameP);
    if (err == kChangedSinceRead) {
        fputs("Changed since it was read\n", stderr);
        return;
    }
    if (err == kOutsideDirectory) {
        report_outside(nameP);
        return;
    }
    errno = err;
    perror("");
}

} // namespace

int replace_file(const char* pathP, const std::string& text) {
    outputT* oP = fresh_output();
    if (!out_open(oP, pathP, 0666))
        return oP->err;
    out_write(oP, text.data(), text.size());
    out_commit(oP);
    return oP->err;
}

void use_shared_settings(const std::vector<std::string>& settings) {
    s_shared = settings;
    s_sharedKnown = true;
}

void guard_stamp(time_t now, char* stampP, char* dateP) {
    struct tm* tmP = gmtime(&now);
    if (tmP != nullptr)
        snprintf(stampP, GUARD_STAMP_SIZE, "%04d%02d%02d%02d%02d%02d", tmP->tm_year + 1900,
                 tmP->tm_mon + 1, tmP->tm_mday, tmP->tm_hour, tmP->tm_min, tmP->tm_sec);
    else
        snprintf(stampP, GUARD_STAMP_SIZE, "%s", "00000000000000");
    const char* textP = ctime(&now);
    snprintf(dateP, GUARD_DATE_SIZE, "%.24s", textP != nullptr ? textP : "");
}

bool loaded_source_holds_guards() { return s_loadedP != nullptr && s_heldGuards; }

placeE where_is(const char* pathP) {
    if (g_underpathP == nullptr)
        return Place_inside;
    bool spelledUnder = strncmp(pathP, g_underpathP, static_cast<size_t>(g_underpath_lth)) == 0;
    // Only a source mode writes; a report alone judges by the spelling.
    if (spelledUnder && g_mode == No_source)
        return Place_inside;
    std::string real = real_location(pathP);
    if (!real.empty() && under_root(real))
        return Place_inside;
    if (!spelledUnder)
        return Place_outside;
    return real.empty() ? Place_inside : Place_through_link;
}

int load_source() {
    xfree1(reinterpret_cast<void**>(&s_loadedP));
    s_mapped = 0;
    bool update = g_mode == Update_source;
    int fd = open(g_filenameP, update ? O_RDWR : O_RDONLY);
    if (fd < 0) {
        int err = errno;
        fprintf(stderr, "** Can't open %s for reading", g_filenameP);
        if (update)
            fputs(" and update", stderr);
        fputc('\n', stderr);
        errno = err;
        perror("");
        return -1;
    }
    struct stat st;
    int ret = fstat(fd, &st);
    if (ret != 0) {
        int err = errno;
        fprintf(stderr, "** fstat %s returned %d\n", g_filenameP, ret);
        errno = err;
        perror("");
        close(fd);
        return -1;
    }
    if (st.st_size == 0) {
        fprintf(stderr, "** %s is empty\n", g_filenameP);
        close(fd);
        return -1;
    }
    if (st.st_size > kMaxSource) {
        fprintf(stderr, "** %s is too large\n", g_filenameP);
        close(fd);
        return -1;
    }
    int size = static_cast<int>(st.st_size);
    if (g_source_lth <= size) {
        xfree1(reinterpret_cast<void**>(&g_sourceP));
        g_sourceP = static_cast<char*>(xmalloc1(static_cast<unsigned int>(size) + 1));
        g_source_lth = size;
    }
    int have = 0;
    while (have < size) {
        errno = 0;
        ssize_t got = read(fd, g_sourceP + have, static_cast<size_t>(size - have));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            int err = errno;
            fprintf(stderr, "** read %s returned %d\n", g_filenameP, static_cast<int>(got));
            errno = err;
            perror("");
            close(fd);
            return -1;
        }
        have += static_cast<int>(got);
    }
    g_sourceP[size] = '\0';
    close(fd);
    // The text is handled as a string: a NUL inside would cut off the rest
    // of the file when it is written back.
    if (memchr(g_sourceP, '\0', static_cast<size_t>(size)) != nullptr) {
        fprintf(stderr, "** %s holds a NUL byte\n", g_filenameP);
        return -1;
    }
    s_loadedP = dupstring(g_filenameP);
    s_loadedStat = st;
    s_heldGuards = strstr(g_sourceP, kHeader) != nullptr || strstr(g_sourceP, kStartGuard) != nullptr;
    if (g_mode == Strip_source)
        strip_source();
    return 0;
}

void strip_source() {
    char* textP = g_sourceP;
    if (textP == nullptr)
        return;
    size_t lth = strlen(textP);
    // Stripping the text a strip already produced extends that strip's map;
    // any other text is taken as read from disk.
    bool again = s_mapped && textP == s_mapTextP && lth == static_cast<size_t>(s_kept);
    if (!again)
        s_mapped = 0;
    // Every beginning holds "_DEAD_": a text without it has nothing to strip.
    if (strstr(textP, "_DEAD_") == nullptr)
        return;
    if (!again) {
        if (s_read_lth < static_cast<int>(lth)) {
            xfree1(reinterpret_cast<void**>(&s_readP));
            xfree1(reinterpret_cast<void**>(&s_originP));
            s_readP = static_cast<char*>(xmalloc1(static_cast<unsigned int>(lth) + 1));
            s_originP =
                static_cast<int*>(xmalloc1(static_cast<unsigned int>((lth + 1) * sizeof(int))));
            s_read_lth = static_cast<int>(lth);
        }
        memcpy(s_readP, textP, lth + 1);
    }
    int noted = g_stripped;
    size_t r = 0, w = 0;
    // r >= w throughout, so s_originP[r] still holds the earlier strip's
    // entry when it is read.
    auto keep = [&] {
        s_originP[w] = again ? s_originP[r] : static_cast<int>(r);
        textP[w++] = textP[r++];
    };
    while (textP[r] != '\0') {
        if (textP[r] == '#') {
            if (strncmp(textP + r, kHeader, sizeof(kHeader) - 1) == 0) {
                const char* endifP = strstr(textP + r, "#endif");
                if (endifP != nullptr) {
                    ++g_stripped;
                    const char* lfP = strchr(endifP, '\n');
                    r = lfP != nullptr ? static_cast<size_t>(lfP - textP) + 1 : lth;
                    continue;
                }
                // A header beginning that is never closed: stripping stops
                // here and the rest of the text stays as it is.
                while (textP[r] != '\0')
                    keep();
                break;
            }
            if (strncmp(textP + r, kStartGuard, sizeof(kStartGuard) - 1) == 0 ||
                strncmp(textP + r, kEndGuard, sizeof(kEndGuard) - 1) == 0) {
                ++g_stripped;
                // The line feed that the guard was written after goes too.
                if (w > 0 && textP[w - 1] == '\n')
                    --w;
                const char* lfP = strchr(textP + r, '\n');
                r = lfP != nullptr ? static_cast<size_t>(lfP - textP) + 1 : lth;
                continue;
            }
        }
        keep();
    }
    textP[w] = '\0';
    if (g_stripped != noted) {
        g_changed = 1;
        s_mapped = 1;
        s_mapTextP = textP;
        s_kept = static_cast<int>(w);
    }
}

void update_source() {
    if (g_changed == 0)
        return;
    // Only the text loaded for this very file may be written over it.
    if (g_sourceP == nullptr || s_loadedP == nullptr || strcmp(s_loadedP, g_filenameP) != 0)
        return;
    guardPlanT plan;
    bool stripped = mapped();
    if (g_mode != Read_source)
        plan.make(stripped);
    // A strip that leaves nothing to guard gives the file back as it was
    // before the earlier run, header and all; with nothing stripped either,
    // the file stays as it is.
    bool header = g_mode != Strip_source || !plan.pairs.empty();
    if (g_mode == Strip_source && !header && !stripped)
        return;

    char* deadNameP = nullptr;
    char* bakP = nullptr;
    const char* outNameP = g_filenameP;
    if (g_mode == Write_source) {
        deadNameP = concat(g_filenameP, ".dead");
        outNameP = deadNameP;
    } else if (g_backup) {
        bakP = concat(g_filenameP, ".bak");
    }
    // Nothing is written through a link to a place outside the directory:
    // neither the file, nor its copy, nor its backup.
    for (const char* nameP : {outNameP, static_cast<const char*>(bakP)}) {
        if (nameP != nullptr && !writes_inside(nameP)) {
            report_outside(nameP);
            ++g_skipped_files;
            xfree1(reinterpret_cast<void**>(&deadNameP));
            xfree1(reinterpret_cast<void**>(&bakP));
            return;
        }
    }
    ++g_updated;
    if (bakP != nullptr) {
        int err = copy_to_backup(bakP);
        if (err != 0)
            fprintf(stderr, "cp %s %s returned %d\n", g_filenameP, bakP, err);
        xfree1(reinterpret_cast<void**>(&bakP));
    }

    outputT* oP = fresh_output();
    oP->confine = true;
    if (g_mode != Write_source)
        oP->readP = &s_loadedStat;
    if (!out_open(oP, outNameP, 0666)) {
        report_cant_write(outNameP, oP->err);
        ++g_unwritten;
    } else {
        int linesBefore = g_lines_code;
        if (g_mode == Read_source) {
            out_puts(oP, g_sourceP);
        } else {
            char stamp[GUARD_STAMP_SIZE], date[GUARD_DATE_SIZE];
            guard_stamp(time(nullptr), stamp, date);
            if (header)
                write_header(oP, stamp);
            plan.write(oP, stamp, date);
        }
        if (!out_commit(oP)) {
            report_cant_write(outNameP, oP->err);
            ++g_unwritten;
            g_lines_code = linesBefore; // none of them were guarded after all
        }
    }
    xfree1(reinterpret_cast<void**>(&deadNameP));
}
