// The boundary scanner. Guards can only be placed around whole top-level
// constructs, so the preprocessed text of a file is read once, character by
// character, following line markers to know which source line each character
// came from, and the place where each function definition or declaration of
// the wanted file begins and ends is recorded. It does not parse: braces,
// parentheses, semicolons and colons, outside literals, are all it looks at,
// and text it does not understand only yields fewer or other records.
#include "boundaries.h"

#include "lopwort.h"
#include "util.h"
#include "xmalloc.h"

#include <cassert>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// Room for a marker's file name made absolute, and for the scan file's name.
const int kNameSize = 2048;
const int kFirstCapacity = 2048;

// What one scan knows; the fields are the state of the character loop.
struct Scanner {
    const char* cwdP;
    const char* wantedP;    // the full path of the file whose constructs count
    FILE* debugP = nullptr; // the scan file of -d, when it could be created

    int lineno = 1;    // line of the wanted file; -1 in another, 0 before line 1
    int character = 0; // column of the current character in its line
    int quote = 0;     // 1 in a character literal, 2 in a string literal
    int state = 0;     // line-marker recogniser, -1 once the line is code
    int val = 0;       // the marker's line number
    int valTooBig = 0; // the marker's line number does not fit
    char filename[kNameSize];
    int nameLth = 0;
    int nameBad = 0; // too long or holding a NUL: names no file of ours
    long cwdLth = -1;

    int function = -1;   // -1 nothing open, 0 declaration part, n brace depth
    int openpoint = 0;   // index + 1 of the construct whose parameter list was seen
    int functionptr = 0; // parenthesis depth inside "(*" declarators
    int lastc = 0;       // last code character other than blanks
    int current = -1;    // index of the open construct's record, -1 for none

    Scanner(const char* dirP, const char* fileP) : cwdP(dirP), wantedP(fileP) {}

    void put(int c) {
        if (debugP != nullptr)
            putc(c, debugP);
    }
    void putText(const char* textP) {
        if (debugP != nullptr)
            fputs(textP, debugP);
    }

    // A parameter list was seen in the open construct itself, not merely
    // in some earlier declaration that ended with a semicolon.
    bool paramsSeen() const { return openpoint != 0 && openpoint == g_boundaries; }

    void newLine();
    void markerLine(int c, int escaped);
    void markerEnds();
    void code(int c);
    void open();
    void drop();
    void close(int c);
};

void growIfFull() {
    if (g_boundaries < g_boundaries_max)
        return;
    size_t records = static_cast<size_t>(g_boundaries_max) * 2;
    size_t bytes = records * sizeof(boundaryT);
    if (records > INT_MAX || bytes > UINT_MAX)
        outofmemory();
    g_boundariesP =
        static_cast<boundaryT*>(xrealloc1(g_boundariesP, static_cast<unsigned int>(bytes)));
    g_boundaries_max = static_cast<int>(records);
}

void Scanner::open() {
    function = 0;
    if (debugP != nullptr)
        fprintf(debugP, "\n##START lineno=%d+%d\n", lineno, character);
    growIfFull();
    boundaryT* recordP = &g_boundariesP[g_boundaries];
    recordP->lineno[0] = lineno;
    recordP->lineno[1] = -1;
    recordP->character[0] = character;
    recordP->character[1] = 0;
    recordP->dead = 0;
    current = g_boundaries++;
}

// The open construct turned out to be no function: a struct or namespace
// body, an initialiser, or a label or bit-field cut by a lone colon. It is
// always the last record.
void Scanner::drop() {
    assert(current == g_boundaries - 1);
    --g_boundaries;
    function = -1;
    current = -1;
}

void Scanner::close(int c) {
    put(c);
    if (lineno > 0 && current >= 0) {
        if (debugP != nullptr)
            fprintf(debugP, "\n##END lineno=%d+%d\n", lineno, character);
        g_boundariesP[current].lineno[1] = lineno;
        g_boundariesP[current].character[1] = character + 1;
    }
    // A construct that ends in another file stays unfinished, but nothing is
    // open any more, so the next construct can begin.
    current = -1;
    function = -1;
    lastc = c;
}

// A marker's line feed: from here on the text is the given line of the file
// the marker names. Relative names are relative to the preprocessor's
// directory; pseudo-files such as "<built-in>" are left as they are.
void Scanner::markerEnds() {
    int ours = 0;
    if (!nameBad && !valTooBig) {
        filename[nameLth] = '\0';
        int fits = 1;
        if (filename[0] != '/' && filename[0] != '<') {
            if (cwdLth < 0)
                cwdLth = static_cast<long>(strlen(cwdP));
            if (cwdLth + 1 + nameLth + 1 > kNameSize) {
                fits = 0;
            } else {
                memmove(filename + cwdLth + 1, filename, static_cast<size_t>(nameLth) + 1);
                memcpy(filename, cwdP, static_cast<size_t>(cwdLth));
                filename[cwdLth] = '/';
            }
        }
        ours = fits && strcmp(filename, wantedP) == 0;
    }
    if (ours) {
        lineno = val;
        if (debugP != nullptr)
            fprintf(debugP, "\n%04d ", lineno);
    } else {
        lineno = -1;
        putText("\n     ");
    }
    state = 0;
}

// One character while the line may still be a marker: "#", blanks, a line
// number, blanks, a quoted name, flags. Anything that does not fit turns the
// line into code from that character on.
void Scanner::markerLine(int c, int escaped) {
    switch (state) {
    case 0:
        if (c == '#' && quote == 0) {
            state = 1;
            break;
        }
        state = -1;
        return code(c);
    case 1:
        // Line number 0 is a marker too: the compiler opens its output with
        // markers such as # 0 "<built-in>", which are no code.
        if (c == ' ')
            break;
        if (c >= '0' && c <= '9') {
            state = 2;
            val = c - '0';
            valTooBig = 0;
            break;
        }
        state = -1;
        return code(c);
    case 2:
        if (c >= '0' && c <= '9') {
            if (val > (INT_MAX - (c - '0')) / 10)
                valTooBig = 1;
            else
                val = val * 10 + (c - '0');
            break;
        }
        if (c == ' ') {
            state = 3;
            break;
        }
        state = -1;
        return code(c);
    case 3:
        if (c == ' ')
            break;
        if (c == '"') {
            state = 4;
            nameLth = 0;
            nameBad = 0;
            break;
        }
        state = -1;
        return code(c);
    case 4:
        // The compiler writes a quote in a file name as \"; only a bare
        // quote ends the name.
        if (c == '"' && !escaped) {
            state = 5;
            break;
        }
        if (c == '\0' || nameLth >= kNameSize - 1)
            nameBad = 1;
        else
            filename[nameLth++] = static_cast<char>(c);
        break;
    default: // 5 and 6: the flags after the name
        if (c == '\n')
            return markerEnds(); // the line feed itself is not copied
        if (c != '\t' && c != '\r' && c != ' ')
            state = 6;
        break;
    }
    put(c);
}

// A line feed of code: the next line of the wanted file, or of another.
void Scanner::newLine() {
    if (lineno > 0 && lineno < INT_MAX) {
        ++lineno;
        if (debugP != nullptr)
            fprintf(debugP, "\n%04d+", lineno);
        return;
    }
    if (lineno > 0)
        lineno = -1; // a line number that would overflow leaves the file behind
    putText("\n     ");
}

void Scanner::code(int c) {
    if (quote != 0) {
        // A line feed inside a literal is still a line of the file: raw
        // strings span lines, and the compiler puts no marker after them.
        if (c == '\n')
            return newLine();
        put(c);
        return;
    }

    int remembered = c;
    if (lastc == '(') {
        if (function == 0 && functionptr == 0) {
            if (c == '*')
                functionptr = 1;
            else
                openpoint = g_boundaries;
        }
    } else if (lastc == ':') {
        if (c == ':')
            remembered = 'a'; // "::" qualifies a name; it is no label
        else if (function >= 0 && !paramsSeen())
            drop();
    }

    switch (c) {
    case '\t':
    case '\r':
    case ' ':
        put(c);
        return;
    case '\n':
        newLine();
        state = 0;
        return;
    case '(':
        if (functionptr != 0)
            ++functionptr;
        break;
    case ')':
        if (functionptr != 0)
            --functionptr;
        break;
    case '{':
        if (function >= 0) {
            // Only a parameter list of this very construct makes the brace
            // a body; a prototype earlier must not turn the struct, class or
            // namespace that follows it into one construct.
            if (paramsSeen())
                ++function;
            else
                drop();
        } else if (openpoint != 0 && openpoint <= g_boundaries && lastc == ';') {
            // An old-style definition: the declarations of its parameters
            // ended with semicolons and were recorded on their own; the body
            // reunites them with the header's record.
            putText("!!");
            current = openpoint - 1;
            g_boundaries = openpoint;
            g_boundariesP[current].lineno[1] = -1;
            g_boundariesP[current].character[1] = 0;
            function = 1;
        }
        break;
    case '}':
        if (function >= 1) {
            --function;
            if (function == 0) {
                openpoint = 0;
                return close(c);
            }
        }
        break;
    case ';':
        if (function == 0)
            return close(c);
        break;
    default:
        if (function == -1 && lineno > 0 && current < 0)
            open();
        break;
    }
    lastc = remembered;
    put(c);
}

} // namespace

void scan(const char* cwdP, int fd) {
    const char* wantedP = g_filenameP != nullptr ? g_filenameP : "";
    Scanner s(cwdP, wantedP);

    if (g_debug_flag) {
        char nameBuf[kNameSize];
        int n = snprintf(nameBuf, sizeof nameBuf, "%s.scan", wantedP);
        if (n < 0 || n >= kNameSize) {
            // A name that long cannot be created here; say so in full.
            fprintf(stderr, "Can't create %s.scan\n", wantedP);
        } else {
            s.debugP = fopen(nameBuf, "w");
            if (s.debugP == nullptr)
                fprintf(stderr, "Can't create %s\n", nameBuf);
            else
                fputs("0001 ", s.debugP);
        }
    }

    FILE* inP = fdopen(fd, "r");
    if (inP == nullptr) {
        fputs("Can't open input pipe from cpp\n", stderr);
        error_exit(2);
    }

    if (g_boundariesP == nullptr) {
        g_boundariesP = static_cast<boundaryT*>(xmalloc1(kFirstCapacity * sizeof(boundaryT)));
        g_boundaries_max = kFirstCapacity;
    }
    g_boundaries = 0;

    for (;;) {
        int c = getc_unlocked(inP);
        if (c == EOF)
            break;
        if (s.character < INT_MAX - 1)
            ++s.character;
        int escaped = 0;
        if (c == '\\') {
            // The escaped character is handled in the pair's place and
            // neither opens nor ends a literal. Both bytes are columns of the
            // line, as they are in the source, so that a closing brace after
            // an escape on its line is still found at its own column.
            s.put(c);
            c = getc_unlocked(inP);
            if (c == EOF)
                break;
            escaped = 1;
            if (c == '\n')
                s.character = 0;
            else if (s.character < INT_MAX - 1)
                ++s.character;
        } else if (c == '"') {
            if (s.quote == 0)
                s.quote = 2;
            else if (s.quote == 2)
                s.quote = 0;
        } else if (c == '\'') {
            if (s.quote == 0)
                s.quote = 1;
            else if (s.quote == 1)
                s.quote = 0;
        } else if (c == '\n') {
            s.character = 0;
        }

        if (s.state >= 0)
            s.markerLine(c, escaped);
        else
            s.code(c);
    }
    fclose(inP);

    if (s.debugP != nullptr) {
        fputs("\n\n", s.debugP);
        for (int i = 0; i < g_boundaries; ++i) {
            const boundaryT& r = g_boundariesP[i];
            fprintf(s.debugP, "%d.%d - %d.%d\n", r.lineno[0], r.character[0], r.lineno[1],
                    r.character[1]);
        }
        fclose(s.debugP);
    }
}
