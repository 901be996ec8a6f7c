// The stream tokenizer of TA text. Characters come from a block buffer
// filled by read(2); m_peekc is the only look-ahead the readers see, so the
// blocks change nothing observable. Lines are counted when a line feed is
// consumed, by either reader, so a token at the end of a line still reports
// that line.
#include "TAStreamTokenizer.h"

#include "AttributeCache.h"
#include "stringcache.h"
#include "util.h"
#include "xmalloc.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

char* CStreamTokenizer::m_ctypeP = nullptr;

namespace {

const int kInitialBufSize = 20480;
// Large enough that a read costs little per character, small enough to sit
// in the cache.
const int kInputBlock = 256 * 1024;
// The text buffer doubles; beyond this its int capacity would overflow.
const int kMaxBufSize = 1 << 30;

int isBlank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// Classes of characters that a reader takes without looking at them one by
// one: they are neither the end of what is being read, nor an escape, a
// quote, a line feed (which is counted) or a NUL (which is refused). A run of
// them is copied from the input block in one go.
struct PlainTable {
    unsigned char word[256];      // inside a word of nextToken
    unsigned char quoted[256];    // inside a quoted string of nextToken
    unsigned char aviWord[256];   // inside a word item of a value
    unsigned char aviQuoted[256]; // inside a quoted item of a value
    PlainTable() {
        for (int c = 0; c < 256; ++c) {
            bool special = c == 0 || c == '\\' || c == '"' || c == '\'';
            bool wordEnd = strchr(" \t\n\f\r={}()", c) != nullptr && c != 0;
            word[c] = !special && !wordEnd;
            quoted[c] = !special && c != '\n';
            aviWord[c] = c != 0 && c != '\\' && !wordEnd;
            aviQuoted[c] = !special && !wordEnd;
        }
    }
};
const PlainTable kPlain;

const char* unterminatedText(int q) {
    return q == '"' ? "Unterminated \" in input\n" : "Unterminated ' in input\n";
}

} // namespace

CStreamTokenizer::CStreamTokenizer()
    : m_F(nullptr), m_filenameP(nullptr), m_peekc(' '), m_pushedBack(0), m_escaped(0),
      m_buf_size(kInitialBufSize), m_bufP(nullptr), m_ttype(' '), m_svalP(nullptr), m_lineno(0),
      m_deferP(nullptr), m_pendingSvalP(nullptr), m_inP(nullptr), m_inPosP(nullptr),
      m_inEndP(nullptr), m_inSize(0), m_inEof(0), m_inputSize(0) {
    if (m_ctypeP == nullptr) {
        char* tableP = static_cast<char*>(xmalloc1(256));
        memset(tableP, 0, 256);
        for (const char* p = " \t\n\f\r={}()"; *p; ++p)
            tableP[static_cast<unsigned char>(*p)] = 2;
        m_ctypeP = tableP;
    }
    m_bufP = static_cast<char*>(xmalloc1(m_buf_size));
}

// The object itself lives in the arena; its buffers do not.
CStreamTokenizer::~CStreamTokenizer() {
    if (m_F != nullptr && m_F != stdin)
        fclose(m_F);
    free(m_bufP);
    free(m_inP);
}

void CStreamTokenizer::open(const char* filenameP) {
    m_filenameP = filenameP ? filenameP : "";
    struct stat st;
    int inSize = kInputBlock;
    if (*m_filenameP != '\0') {
        m_F = fopen(m_filenameP, "rb");
        // A directory opens on Linux but cannot be read: refuse it here, as
        // a file that cannot be opened, rather than fail at the first read.
        bool statted = m_F != nullptr && fstat(fileno(m_F), &st) == 0;
        if (statted && S_ISDIR(st.st_mode)) {
            fclose(m_F);
            m_F = nullptr;
        }
        // Fact files hold a distinct text every couple of hundred bytes, and
        // a distinct attribute every few hundred to a few thousand (a terse
        // file repeats its few file names and line numbers): the attribute
        // table starts at the low end, since growing it later costs time
        // but no room beyond the grown table (see table_rehash).
        if (m_F != nullptr && statted && S_ISREG(st.st_mode)) {
            stringCacheReserve(static_cast<size_t>(st.st_size) / 256);
            attributeCacheReserve(static_cast<size_t>(st.st_size) / 2048);
        }
        if (m_F == nullptr) {
            fprintf(stderr, "Can't open %s\n", m_filenameP);
            error_exit(2);
        }
    } else {
        m_F = stdin;
    }
    m_inputSize = 0;
    if (fstat(fileno(m_F), &st) == 0 && S_ISREG(st.st_mode)) {
        m_inputSize = static_cast<size_t>(st.st_size);
        // A small file needs no large block (one byte more than its size
        // lets the first read already see the end).
        if (st.st_size < kInputBlock - 1)
            inSize = std::max(static_cast<int>(st.st_size) + 1, 4096);
    }
    if (inSize != m_inSize) {
        free(m_inP);
        m_inP = static_cast<char*>(xmalloc1(static_cast<unsigned int>(inSize)));
        m_inSize = inSize;
    }
    m_inPosP = m_inEndP = m_inP;
    m_inEof = 0;
    m_lineno = 1;
}

void CStreamTokenizer::close() {
    if (m_F != nullptr && m_F != stdin && fclose(m_F) != 0) {
        fprintf(stderr, "Can't close %s\n", m_filenameP);
        exit(1);
    }
    m_F = nullptr;
}

// Reads the next block. The end of input is remembered so that a terminal
// is not asked again after it signalled the end once.
int CStreamTokenizer::refill() {
    if (m_inEof || m_F == nullptr)
        return -1;
    int fd = fileno(m_F);
    for (;;) {
        ssize_t n = read(fd, m_inP, static_cast<size_t>(m_inSize));
        if (n > 0) {
            m_inPosP = m_inP + 1;
            m_inEndP = m_inP + n;
            return static_cast<unsigned char>(m_inP[0]);
        }
        if (n == 0) {
            m_inEof = 1;
            return -1;
        }
        if (errno != EINTR)
            readFailed();
    }
}

// A read error must not pass for the end of the facts: the analysis would
// run on part of them and report functions as dead that are not.
void CStreamTokenizer::readFailed() {
    if (*m_filenameP != '\0')
        fail(2, ("Can't read " + std::string(m_filenameP) + "\n").c_str());
    fail(2, "Can't read standard input\n");
}

// Texts are interned as NUL-terminated strings, so a NUL byte inside one
// would silently cut it short; such input is refused instead.
void CStreamTokenizer::nulInText() {
    fail(1, ("*** Error (" + std::to_string(m_lineno) + "): NUL character in input\n").c_str());
}

void CStreamTokenizer::say(FILE* streamP, const char* textP) {
    if (m_deferP != nullptr)
        m_deferP->push_back({streamP, textP});
    else
        fputs(textP, streamP);
}

void CStreamTokenizer::fail(int code, const char* messageP) {
    say(stderr, messageP);
    if (m_deferP != nullptr)
        throw CTokenizerExit{code};
    error_exit(code);
}

int CStreamTokenizer::takePlain(int lth, const unsigned char* plainP) {
    do {
        const char* p = m_inPosP;
        const char* q = p;
        while (q < m_inEndP && plainP[static_cast<unsigned char>(*q)])
            ++q;
        int run = 1 + static_cast<int>(q - p);
        while (run >= m_buf_size - lth)
            enlargeBuffer();
        m_bufP[lth] = static_cast<char>(m_peekc);
        memcpy(m_bufP + lth + 1, p, static_cast<size_t>(q - p));
        lth += run;
        m_inPosP = const_cast<char*>(q);
        m_peekc = readChar();
    } while (m_peekc >= 0 && plainP[m_peekc]);
    return lth;
}

int CStreamTokenizer::charToken() {
    int c = m_peekc;
    if (c == '\n')
        countLine();
    m_peekc = readChar();
    if (c == '"' || c == '\'') {
        m_escaped = 0;
        return c;
    }
    if (c != '\\')
        return c;
    // The character after the backslash is consumed here as a plain one: it
    // never starts an escape of its own.
    int d = m_peekc;
    switch (d) {
    case 'n':
        c = '\n';
        break;
    case 't':
        c = '\t';
        break;
    case 'f':
        c = '\f';
        break;
    case 'r':
        c = '\r';
        break;
    case 'e':
        c = 27;
        break;
    case 'd':
        c = 127;
        break;
    case '"':
    case '\'':
        c = d;
        m_escaped = 1;
        break;
    default:
        c = d; // a backslash, any other character, or the end of input
        break;
    }
    if (d == '\n')
        countLine();
    if (d != -1)
        m_peekc = readChar();
    return c;
}

int CStreamTokenizer::charAVI() {
    int c = m_peekc;
    // Counted here too, so that lines after a value spanning several lines
    // are reported at their real numbers.
    if (c == '\n')
        countLine();
    m_peekc = readChar();
    return c;
}

// A "*" followed by "/" closes the comment; the "*" of the opening "/*" may
// be that star, so "/*/" is a whole comment.
void CStreamTokenizer::skipBlockComment(int raw) {
    for (;;) {
        int c = raw ? charAVI() : charToken();
        if (c == -1)
            return;
        if (c == '*' && m_peekc == '/') {
            if (raw)
                charAVI();
            else
                charToken();
            return;
        }
    }
}

// Ends after a line feed, at the end of input, or after a carriage return
// that no line feed follows.
void CStreamTokenizer::skipLineComment(int raw) {
    for (;;) {
        int c = raw ? charAVI() : charToken();
        if (c == -1 || c == '\n')
            return;
        if (c == '\r' && m_peekc != '\n')
            return;
    }
}

int CStreamTokenizer::nextToken() {
    if (m_pushedBack) {
        m_pushedBack = 0;
        return m_ttype;
    }
    int lth;
    int t = nextRawToken(&lth);
    if (t == TT_WORD)
        m_svalP = stringCache(rawText(), static_cast<unsigned>(lth));
    return t;
}

int CStreamTokenizer::nextRawToken(int* lthP) {
    m_textP = nullptr;
    if (m_pushedBack) {
        m_pushedBack = 0;
        if (m_ttype == TT_WORD && m_svalP != nullptr) {
            // A word pushed back was read interned: give its text again.
            int lth = static_cast<int>(strlen(m_svalP));
            while (lth >= m_buf_size)
                enlargeBuffer();
            memcpy(m_bufP, m_svalP, static_cast<size_t>(lth));
            *lthP = lth;
            m_svalP = nullptr;
        }
        return m_ttype;
    }
    m_svalP = nullptr;
    m_pendingSvalP = nullptr;
    int c;
    for (;;) {
        while (isBlank(m_peekc)) {
            if (m_peekc == '\n')
                countLine();
            m_peekc = readChar();
        }
        if (m_peekc >= 0 && kPlain.word[m_peekc] && m_peekc != '/' && m_inPosP > m_inP &&
            static_cast<unsigned char>(m_inPosP[-1]) == m_peekc) {
            // Most words are plain characters that lie whole in the input
            // block, up to a delimiter: such a word is left where it is
            // rather than copied. One that may open a comment, runs to the
            // block's end or holds anything else is read the long way.
            const char* q = m_inPosP;
            while (q < m_inEndP && kPlain.word[static_cast<unsigned char>(*q)])
                ++q;
            if (q < m_inEndP && isWordEnd(static_cast<unsigned char>(*q)) &&
                !(q == m_inPosP && m_peekc == ':')) {
                m_textP = m_inPosP - 1;
                *lthP = static_cast<int>(q - m_textP);
                m_peekc = static_cast<unsigned char>(*q);
                m_inPosP = const_cast<char*>(q) + 1;
                return TT_WORD;
            }
        }
        c = charToken();
        if (c == -1) {
            // Interned anew each time: a harness may empty the string cache
            // between loads, and end of input is met once per file.
            if (m_deferP != nullptr)
                m_pendingSvalP = "EOF";
            else
                m_svalP = stringCache("EOF");
            return TT_EOF;
        }
        if (isBlank(c))
            continue;
        if (c == '"' || c == '\'') {
            // quoted-string := q { char } q
            int q = c, lth = 0;
            for (;;) {
                if (m_peekc >= 0 && kPlain.quoted[m_peekc])
                    lth = takePlain(lth, kPlain.quoted);
                c = charToken();
                if (c == -1) {
                    say(stdout, unterminatedText(q));
                    break;
                }
                if (c == q && !m_escaped)
                    break;
                store(lth++, c);
            }
            *lthP = lth;
            return TT_WORD;
        }
        if (c == '/' && m_peekc == '*') {
            skipBlockComment(0);
            continue;
        }
        if (c == '/' && m_peekc == '/') {
            skipLineComment(0);
            continue;
        }
        break;
    }
    if (isWordEnd(c))
        return c;
    // word := char { char }, up to a character of class 2 or the end of input
    int lth = 0;
    for (;;) {
        store(lth++, c);
        if (m_peekc == -1)
            break;
        if (c == '\\') {
            // An escaped backslash takes the next character with it.
            c = charToken();
            if (c == -1)
                break;
            store(lth++, c);
        }
        if (m_peekc >= 0 && kPlain.word[m_peekc])
            lth = takePlain(lth, kPlain.word);
        if (m_peekc == -1 || isWordEnd(m_peekc))
            break;
        c = charToken();
        if (c == -1)
            break; // a lone backslash just before the end of input
    }
    *lthP = lth;
    if (lth == 1 && m_bufP[0] == ':') {
        if (m_deferP != nullptr)
            m_pendingSvalP = ":";
        else
            m_svalP = getString(lth);
        return TT_COLON;
    }
    return TT_WORD;
}

// quoted-item := q { char } q, kept raw; the quotes are dropped when the text
// needs none (no white space, delimiter, quote or backslash in it).
int CStreamTokenizer::quotedItem(int q, int lth, int* itemsP) {
    ++*itemsP;
    int start = lth;
    store(lth++, q);
    int simple = 1, escaped = 0;
    for (;;) {
        if (m_peekc >= 0 && kPlain.aviQuoted[m_peekc]) {
            lth = takePlain(lth, kPlain.aviQuoted);
            escaped = 0;
        }
        int c = charAVI();
        if (c == '\\') {
            escaped = !escaped;
            store(lth++, c);
            simple = 0;
            continue;
        }
        if (c == q && !escaped)
            break;
        if (c == -1) {
            say(stderr, unterminatedText(q));
            break;
        }
        if (c == '"' || c == '\'' || isWordEnd(c))
            simple = 0;
        store(lth++, c);
        escaped = 0;
    }
    if (simple) {
        memmove(m_bufP + start, m_bufP + start + 1, lth - start - 1);
        --lth;
    } else {
        store(lth++, q);
    }
    return lth;
}

// word-item := char { char }, up to a character of class 2 or the end of
// input; a word holding a backslash is put in double quotes.
int CStreamTokenizer::wordItem(int c, int lth, int* itemsP) {
    ++*itemsP;
    int start = lth, backslash = 0;
    for (;;) {
        if (c == '\\')
            backslash = 1;
        store(lth++, c);
        if (m_peekc >= 0 && kPlain.aviWord[m_peekc])
            lth = takePlain(lth, kPlain.aviWord);
        if (m_peekc == -1 || isWordEnd(m_peekc))
            break;
        c = charAVI();
    }
    if (backslash) {
        while (lth + 1 >= m_buf_size)
            enlargeBuffer();
        memmove(m_bufP + start + 1, m_bufP + start, lth - start);
        m_bufP[start] = '"';
        ++lth;
        store(lth++, '"');
    }
    return lth;
}

// value := item | "(" { value } ")", read raw with the look-ahead of
// nextToken. Nesting is counted, not recursed, so deep lists cost no stack.
const char* CStreamTokenizer::nextAVI() {
    int lth;
    return nextRawAVI(&lth) ? getString(lth) : nullptr;
}

int CStreamTokenizer::nextRawAVI(int* lthP) {
    m_textP = nullptr;
    int depth = 0, lth = 0, items = 0, openPos = -1;
    int c = charAVI();
    for (;;) {
        if (c == -1)
            return 0;
        if (isBlank(c)) {
            c = charAVI();
            continue;
        }
        if (c == '"' || c == '\'') {
            lth = quotedItem(c, lth, &items);
        } else if (c == '(') {
            openPos = lth;
            store(lth++, '(');
            // A list inside a list: every parenthesis of the value stays.
            if (depth > 0)
                items = 2;
            ++depth;
            c = charAVI();
            continue;
        } else if (c == ')') {
            if (depth == 0) {
                say(stderr, ("Bad nesting of () at " + std::to_string(m_lineno) + "\n").c_str());
                return 0;
            }
            // Inside a list the text ends with its "(" or an item's space.
            if (m_bufP[lth - 1] == '(') {
                say(stderr,
                    ("Empty nesting of () at " + std::to_string(m_lineno) + "\n").c_str());
                --lth;
            } else {
                --lth;
                if (items == 1 && openPos >= 0 && openPos < lth) {
                    // A list of one item is that item.
                    memmove(m_bufP + openPos, m_bufP + openPos + 1, lth - openPos - 1);
                    --lth;
                } else {
                    store(lth++, ')');
                }
            }
            --depth;
        } else if (c == '/' && (m_peekc == '*' || m_peekc == '/')) {
            if (m_peekc == '*')
                skipBlockComment(1);
            else
                skipLineComment(1);
            c = charAVI();
            continue;
        } else if (isWordEnd(c)) {
            // "=", "{" or "}": no value here; the token is for nextToken.
            pushBack(c);
            return 0;
        } else {
            lth = wordItem(c, lth, &items);
        }
        if (depth > 0) {
            store(lth++, ' ');
            c = charAVI();
            continue;
        }
        if (items == 0)
            return 0;
        *lthP = lth;
        return 1;
    }
}

const char* CStreamTokenizer::getString(int pos) {
    while (pos >= m_buf_size)
        enlargeBuffer();
    m_bufP[pos] = '\0';
    return stringCache(m_bufP, static_cast<unsigned>(pos));
}

int CStreamTokenizer::enlargeBuffer() {
    if (m_buf_size >= kMaxBufSize)
        fail(4, "Out of memory\n");
    m_buf_size *= 2;
    m_bufP = static_cast<char*>(xrealloc1(m_bufP, static_cast<unsigned>(m_buf_size)));
    return m_buf_size;
}

void CStreamTokenizer::dumpBuf(int lth) {
    printf("(%d) ", lth);
    int n = lth < m_buf_size ? lth : m_buf_size;
    if (n <= 0)
        return;
    const char* textP = rawText();
    fwrite(textP, 1, n < 30 ? n : 30, stderr);
    if (n > 30) {
        int from = n - 30 < 30 ? 30 : n - 30;
        fputs(" ... ", stderr);
        fwrite(textP + from, 1, n - from, stderr);
    }
}
