// The boundary scanner. Guards can only be placed around whole top-level
// constructs, so the preprocessed text of a file is read once, character by
// character, following line markers to know which source line each character
// came from, and the place where each function definition or declaration of
// the wanted file begins and ends is recorded. Several files can be wanted
// at once: one lexer then feeds the constructs of each, and each file gets
// the records a scan for it alone would make. It does not parse: it splits
// the text into tokens (words, numbers, literals, punctuators) and follows
// only what decides where a construct ends: brackets of every kind, the
// words that introduce a class or namespace body, an initialiser, a
// constructor's initialiser list, a function-try-block or a requires
// expression. Text it does not understand only yields fewer or other records.
#include "boundaries.h"

#include "lopwort.h"
#include "util.h"
#include "xmalloc.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

// Room for a marker's file name made absolute, and for the scan file's name.
const int kNameSize = 2048;
const int kFirstCapacity = 2048;
// Words longer than this are no keyword the scan looks for.
const int kWordSize = 32;
// The longest delimiter of a raw string literal.
const int kDelimiterSize = 16;

// What the lexer is in the middle of.
enum ELex {
    Lex_between,   // between tokens
    Lex_word,      // an identifier or keyword
    Lex_number,    // a preprocessing number, digit separators included
    Lex_punct,     // a punctuator that the next character may extend
    Lex_string,    // a string literal
    Lex_char,      // a character literal
    Lex_delimiter, // the delimiter of a raw string literal, before its "("
    Lex_raw,       // the text of a raw string literal
    Lex_directive  // a directive line other than a line marker (#pragma)
};

// The words that matter to the scan.
enum EWord {
    Word_other,
    Word_scope,     // class struct union enum namespace extern export: a body of declarations
    Word_attribute, // its parentheses are no parameter list (__attribute__, decltype, noexcept...)
    Word_operator,
    Word_template,
    Word_try,
    Word_catch,
    Word_requires
};

enum ETokenKind { Token_none, Token_word, Token_number, Token_literal, Token_punct };

struct Token {
    ETokenKind kind = Token_none;
    EWord word = Word_other;
    char punct[4] = {0, 0, 0, 0}; // the punctuator's text

    // Compares the text with its terminator, so "<" is not "<<".
    template <size_t N> bool is(const char (&text)[N]) const {
        static_assert(N <= sizeof punct, "punctuators are at most three characters");
        return kind == Token_punct && memcmp(punct, text, N) == 0;
    }
};

EWord classify(std::string_view word) {
    static constexpr struct {
        std::string_view text;
        EWord word;
    } kWords[] = {
        {"class", Word_scope},
        {"struct", Word_scope},
        {"union", Word_scope},
        {"enum", Word_scope},
        {"namespace", Word_scope},
        {"extern", Word_scope},
        {"export", Word_scope},
        {"__interface", Word_scope},
        {"__attribute__", Word_attribute},
        {"__attribute", Word_attribute},
        {"__declspec", Word_attribute},
        {"alignas", Word_attribute},
        {"_Alignas", Word_attribute},
        {"alignof", Word_attribute},
        {"_Alignof", Word_attribute},
        {"__alignof__", Word_attribute},
        {"__alignof", Word_attribute},
        {"decltype", Word_attribute},
        {"__decltype", Word_attribute},
        {"noexcept", Word_attribute},
        {"throw", Word_attribute},
        {"sizeof", Word_attribute},
        {"typeof", Word_attribute},
        {"__typeof__", Word_attribute},
        {"__typeof", Word_attribute},
        {"asm", Word_attribute},
        {"__asm__", Word_attribute},
        {"__asm", Word_attribute},
        {"static_assert", Word_attribute},
        {"_Static_assert", Word_attribute},
        {"__pragma", Word_attribute},
        {"_Pragma", Word_attribute},
        {"operator", Word_operator},
        {"template", Word_template},
        {"try", Word_try},
        {"catch", Word_catch},
        {"requires", Word_requires},
    };
    // Every word of the text comes here, and nearly all are none of these:
    // a table of the lengths and first letters the keywords have turns
    // them away at once.
    static const std::array<std::array<bool, 128>, kWordSize + 1> kMaybe = [] {
        std::array<std::array<bool, 128>, kWordSize + 1> table{};
        for (const auto& w : kWords)
            table[w.text.size()][static_cast<unsigned char>(w.text[0])] = true;
        return table;
    }();
    unsigned char first = word.empty() ? 0 : static_cast<unsigned char>(word[0]);
    if (word.size() > static_cast<size_t>(kWordSize) || first >= 128 || !kMaybe[word.size()][first])
        return Word_other;
    for (const auto& w : kWords)
        if (w.text.size() == word.size() && w.text[0] == word[0] && w.text == word)
            return w.word;
    return Word_other;
}

// Whether a punctuator being read goes on with c: "::", "->", ">>", "<=>"...
bool extendsPunct(const char* pendingP, int length, int c) {
    static constexpr std::string_view kLong[] = {
        "::", "...", ".*", "->*", "+=", "-=", "*=", "/=", "%=", "^=", "&=", "|=",
        "==", "!=", "<=>", ">=", "&&", "||", "<<=", ">>=", "++", "--", "##"};
    size_t n = static_cast<size_t>(length);
    for (std::string_view p : kLong)
        if (p.size() > n && p[n] == c && p.compare(0, n, pendingP, n) == 0)
            return true;
    return false;
}

// Letters, digits, "_", "$" and every byte of a multi-byte character.
const std::array<bool, 256> kWordChar = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<size_t>(c)] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                        (c >= '0' && c <= '9') || c == '_' || c == '$' ||
                                        c >= 0x80;
    return table;
}();

bool isWordChar(int c) { return c >= 0 && c < 256 && kWordChar[static_cast<size_t>(c)]; }

bool isDigit(int c) { return c >= '0' && c <= '9'; }

int up(int n) { return n < INT_MAX ? n + 1 : n; }

// Where the lexer is, as the constructs of every wanted file see it.
struct Position {
    int character = 0;         // column of the current character in its line
    bool lineHasToken = false; // a token began on the current line
    FILE* debugP = nullptr;    // the scan file of -d, when it could be created

    void put(int c) const {
        if (debugP != nullptr)
            putc(c, debugP);
    }
    void putText(const char* textP) const {
        if (debugP != nullptr)
            fputs(textP, debugP);
    }
};

// The constructs of one wanted file: the state of the one being read and
// the records made. One lexer feeds those of every wanted file; what the
// text of another file does to them is followed only while one is open.
struct Constructs {
    const Position* atP;
    std::vector<boundaryT> records;

    int lineno = 1; // line of the wanted file; -1 in another, 0 before line 1
    int function = -1; // -1 nothing open, 0 declaration part, n brace depth of the body
    int current = -1;  // index of the open construct's record, -1 for none
    int paren = 0, bracket = 0, angle = 0;
    int nest = 0;             // braces inside the declaration part that are no body
    bool params = false;      // a parameter list was seen
    bool initialiser = false; // "=" was seen: braces belong to the value
    bool scopeWord = false;   // class, namespace, extern...: a brace opens their body
    bool initList = false;    // a constructor's member initialisers
    bool tryBlock = false;    // a function-try-block: handlers follow the body
    bool requiresBody = false; // the next brace is a requires expression's
    // Index + 1 of a closed function-try-block whose next handler may follow.
    int handlerPending = 0;
    // Index + 1 of a declaration with a parameter list that ended with a
    // semicolon: the header of an old-style definition when a body follows.
    int oldStyle = 0;

    explicit Constructs(const Position* at) : atP(at) {}

    bool atTop() const { return paren == 0 && bracket == 0 && nest == 0; }
    int count() const { return static_cast<int>(records.size()); }
    // Outside its file, text can change nothing here but what is open or
    // a handler that may follow: every step below needs one or a line of
    // the wanted file.
    bool idle() const { return function == -1 && current < 0 && handlerPending == 0; }

    void newLine();
    void startToken(int c);
    void endToken(const Token& t, const Token& prev);
    void singleChar(int c, const Token& prev);
    void open();
    void drop();
    void close(int c);
    void endBody(int c);
    void reopenForHandler();
};

void Constructs::open() {
    function = 0;
    paren = bracket = angle = nest = 0;
    params = initialiser = scopeWord = initList = tryBlock = requiresBody = false;
    if (atP->debugP != nullptr)
        fprintf(atP->debugP, "\n##START lineno=%d+%d\n", lineno, atP->character);
    if (records.size() >= static_cast<size_t>(INT_MAX))
        outofmemory();
    boundaryT record;
    record.lineno[0] = lineno;
    record.lineno[1] = -1;
    record.character[0] = atP->character;
    record.character[1] = 0;
    record.dead = 0;
    record.linestart = !atP->lineHasToken;
    records.push_back(record);
    current = count() - 1;
}

// The open construct turned out to be no function: a struct or namespace
// body, a label or bit-field cut by a lone colon, or the closing brace of
// the scope around it. It is always the last record.
void Constructs::drop() {
    assert(current == count() - 1);
    records.pop_back();
    function = -1;
    current = -1;
}

void Constructs::close(int c) {
    atP->put(c);
    if (lineno > 0 && current >= 0) {
        if (atP->debugP != nullptr)
            fprintf(atP->debugP, "\n##END lineno=%d+%d\n", lineno, atP->character);
        records[static_cast<size_t>(current)].lineno[1] = lineno;
        records[static_cast<size_t>(current)].character[1] = atP->character + 1;
    }
    // A construct that ends in another file stays unfinished, but nothing is
    // open any more, so the next construct can begin.
    current = -1;
    function = -1;
}

// The closing brace of a body. A function-try-block goes on with its
// handlers: the record is closed here and opened again by a "catch".
void Constructs::endBody(int c) {
    int index = current;
    bool handlers = tryBlock && lineno > 0 && current >= 0;
    oldStyle = 0;
    close(c);
    handlerPending = handlers ? index + 1 : 0;
}

void Constructs::reopenForHandler() {
    int index = handlerPending - 1;
    handlerPending = 0;
    if (current >= 0)
        drop(); // the record the word "catch" opened
    if (index != count() - 1)
        return;
    atP->putText("!!");
    current = index;
    records[static_cast<size_t>(current)].lineno[1] = -1;
    records[static_cast<size_t>(current)].character[1] = 0;
    function = 0;
    paren = bracket = angle = nest = 0;
    params = true;
    tryBlock = true;
    initialiser = scopeWord = initList = requiresBody = false;
}

// A line feed: the next line of the wanted file, or of another.
void Constructs::newLine() {
    if (lineno > 0 && lineno < INT_MAX) {
        ++lineno;
        if (atP->debugP != nullptr)
            fprintf(atP->debugP, "\n%04d+", lineno);
        return;
    }
    if (lineno > 0)
        lineno = -1; // a line number that would overflow leaves the file behind
    atP->putText("\n     ");
}

// The first character of a token: a construct opens at it when none is
// open, unless the token is one that never begins a declaration.
void Constructs::startToken(int c) {
    if (function == -1 && current < 0 && lineno > 0 && c != '{' && c != '}' && c != '(' &&
        c != ')' && c != ';')
        open();
}

// What a whole token means to the construct around it. Braces, parentheses,
// brackets and semicolons arrive through singleChar, the rest here.
void Constructs::endToken(const Token& t, const Token& prev) {
    if (handlerPending != 0) {
        if (t.kind == Token_word && t.word == Word_catch) {
            reopenForHandler();
            return;
        }
        handlerPending = 0;
    }
    if (function != 0)
        return;
    bool afterOperator = prev.kind == Token_word && prev.word == Word_operator;
    if (t.kind == Token_word && atTop() && angle == 0) {
        if (t.word == Word_scope && !params)
            scopeWord = true;
        else if (t.word == Word_try && params)
            tryBlock = true;
    }
    if (t.kind == Token_word && t.word == Word_requires &&
        ((prev.kind == Token_word && prev.word == Word_requires) || prev.is("&&") ||
         prev.is("||") || prev.is("!")))
        requiresBody = true;
    if (t.kind == Token_punct && !afterOperator && atTop()) {
        if (t.is("<")) {
            if (prev.kind == Token_word && prev.word != Word_operator)
                angle = up(angle);
        } else if (t.is(">")) {
            if (angle > 0)
                --angle;
        } else if (t.is(">>")) {
            angle = angle > 2 ? angle - 2 : 0;
        } else if (t.is("=") && angle == 0) {
            initialiser = true;
        } else if (t.is(":") && angle == 0) {
            // After a parameter list a lone colon begins a constructor's
            // initialisers; in a class head, its bases; in a value, it
            // is part of a conditional. Otherwise it ends an access
            // label or begins a bit-field's width: no function.
            if (params)
                initList = true;
            else if (!scopeWord && !initialiser)
                drop();
        }
    }
}

// A brace, parenthesis, bracket, semicolon, comma, question mark or tilde:
// tokens of one character, acted on at once.
void Constructs::singleChar(int c, const Token& prev) {
    handlerPending = 0;
    switch (c) {
    case '{':
        if (function >= 1) {
            function = up(function);
        } else if (function == 0) {
            if (!atTop() || angle > 0) {
                nest = up(nest);
            } else if (requiresBody) {
                requiresBody = false;
                nest = 1;
            } else if (initialiser) {
                nest = 1; // a value's braces, a lambda's body
            } else if (initList) {
                // A member initialiser in braces follows the member's
                // name or a base's template arguments; the body follows
                // a closing parenthesis or brace, or a pack's "...".
                if (prev.kind == Token_word || prev.is(">"))
                    nest = 1;
                else
                    function = 1;
            } else if (params) {
                function = 1;
            } else if (!scopeWord && (prev.kind == Token_word || prev.is("]") || prev.is(">"))) {
                nest = 1; // a variable's braced initialiser
            } else {
                drop(); // a class, namespace or extern block's body
            }
        } else if (oldStyle != 0 && oldStyle <= count() && prev.is(";") && lineno > 0) {
            // An old-style definition: the declarations of its parameters
            // ended with semicolons and were recorded on their own; the body
            // reunites them with the header's record.
            atP->putText("!!");
            current = oldStyle - 1;
            records.resize(static_cast<size_t>(oldStyle));
            records[static_cast<size_t>(current)].lineno[1] = -1;
            records[static_cast<size_t>(current)].character[1] = 0;
            function = 1;
            tryBlock = false;
        }
        break;
    case '}':
        if (function >= 1) {
            --function;
            if (function == 0)
                return endBody(c);
        } else if (function == 0) {
            if (nest > 0)
                --nest;
            else
                drop(); // the end of the scope around an unfinished declaration
        }
        break;
    case ';':
        if (function == 0 && atTop()) {
            bool header = params;
            int index = current;
            close(c);
            if (header && index >= 0)
                oldStyle = index + 1;
            return;
        }
        break;
    case '(':
        if (function == 0) {
            if (atTop() && angle == 0 &&
                !(prev.kind == Token_word &&
                  (prev.word == Word_attribute || prev.word == Word_requires)))
                params = true;
            paren = up(paren);
        }
        break;
    case ')':
        if (function == 0 && paren > 0)
            --paren;
        break;
    case '[':
        if (function == 0)
            bracket = up(bracket);
        break;
    case ']':
        if (function == 0 && bracket > 0)
            --bracket;
        break;
    default:
        break;
    }
    atP->put(c);
}

// What one scan knows: the lexer's state, and the constructs of each wanted
// file. Text is of one file at a time, as the line markers say.
struct Scanner {
    static const int kAll = -2;  // before the first marker: the text counts as every file's
    static const int kNone = -1; // in a file no one wants

    const char* cwdP;
    Position at;

    int state = 0;     // line-marker recogniser, -1 once the line is code
    int val = 0;       // the marker's line number
    int valTooBig = 0; // the marker's line number does not fit
    char filename[kNameSize];
    int nameLth = 0;
    int nameBad = 0; // too long or holding a NUL: names no file of ours
    long cwdLth = -1;

    // The lexer.
    ELex lex = Lex_between;
    char word[kWordSize + 1];
    int wordLth = 0; // kWordSize + 1 once too long to be a keyword
    char pending[4];
    int pendingLth = 0;
    char delimiter[kDelimiterSize];
    int delimiterLth = 0;
    int rawMatch = -1; // characters of ")delimiter" matched, -1 for none
    int numberLast = 0; // the last character of a number being read
    Token prev;        // the last token of code

    // The wanted files, by full path, and their constructs.
    std::unordered_map<std::string, int> wanted;
    std::vector<Constructs> files;
    int here = kAll;       // the wanted file the text is in, kNone or kAll
    std::vector<int> busy; // files other than here with something open
    // The scan file shows every step of its one file, in the file or not.
    bool everyStep = false;

    explicit Scanner(const char* dirP) : cwdP(dirP) {}

    // Gives one step to the constructs it can change: those of the file the
    // text is in, and those of other files while they have something open.
    template <class Step> void each(Step step) {
        if (here == kAll || everyStep) {
            for (Constructs& f : files)
                step(f);
            return;
        }
        if (here >= 0)
            step(files[static_cast<size_t>(here)]);
        if (!busy.empty()) {
            for (int i : busy)
                step(files[static_cast<size_t>(i)]);
            busy.erase(std::remove_if(busy.begin(), busy.end(),
                                      [&](int i) { return files[static_cast<size_t>(i)].idle(); }),
                       busy.end());
        }
    }

    void newLine() {
        at.lineHasToken = false;
        each([](Constructs& f) { f.newLine(); });
    }
    void startToken(int c) {
        each([c](Constructs& f) { f.startToken(c); });
        at.lineHasToken = true;
    }
    void endToken(const Token& t) {
        each([&](Constructs& f) { f.endToken(t, prev); });
        prev = t;
    }
    void singleChar(int c) {
        Token t;
        t.kind = Token_punct;
        t.punct[0] = static_cast<char>(c);
        each([&](Constructs& f) { f.singleChar(c, prev); });
        prev = t;
    }

    // A character that goes on with the word being read.
    void wordGoesOn(int c) {
        if (wordLth <= kWordSize) {
            if (wordLth < kWordSize)
                word[wordLth] = static_cast<char>(c);
            ++wordLth; // kWordSize + 1: too long for a keyword
        }
        at.put(c);
    }
    // Whether c, unescaped on a line of code, changes nothing but the
    // column: it goes on with a word or a plain literal, or is a blank
    // between tokens. Most of a text is such characters, and they are
    // taken here without the full step.
    bool plain(int c) {
        switch (lex) {
        case Lex_word:
            if (!isWordChar(c))
                return false;
            wordGoesOn(c);
            return true;
        case Lex_between:
            if (c != ' ' && c != '\t')
                return false;
            break;
        case Lex_string:
        case Lex_char:
            if (c == '"' || c == '\'' || c == '\n' || c == '\\')
                return false;
            break;
        default:
            return false;
        }
        at.put(c);
        return true;
    }

    void markerLine(int c, int escaped);
    void markerEnds();
    void code(int c, int escaped);
    void literal(int c, int escaped);
    void endWord();
    void endPending();
    void finish();
    void leave(int i);
};

// The text leaves wanted file i: its line number no longer counts, and what
// it has open goes on seeing the text.
void Scanner::leave(int i) {
    Constructs& f = files[static_cast<size_t>(i)];
    f.lineno = -1;
    if (!everyStep && !f.idle())
        busy.push_back(i);
}

// A marker's line feed: from here on the text is the given line of the file
// the marker names. Relative names are relative to the preprocessor's
// directory; pseudo-files such as "<built-in>" are left as they are.
void Scanner::markerEnds() {
    int found = kNone;
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
        if (fits) {
            auto it = wanted.find(filename);
            if (it != wanted.end())
                found = it->second;
        }
    }
    if (here == kAll) {
        for (size_t i = 0; i < files.size(); ++i)
            if (static_cast<int>(i) != found)
                leave(static_cast<int>(i));
    } else if (here >= 0 && here != found) {
        leave(here);
    }
    if (found >= 0) {
        files[static_cast<size_t>(found)].lineno = val;
        busy.erase(std::remove(busy.begin(), busy.end(), found), busy.end());
        if (at.debugP != nullptr)
            fprintf(at.debugP, "\n%04d ", val);
    } else {
        at.putText("\n     ");
    }
    here = found;
    state = 0;
}

// One character while the line may still be a marker: "#", blanks, a line
// number, blanks, a quoted name, flags. A line that begins with "#" and is
// no marker is another directive (#pragma, #ident), which is no code.
void Scanner::markerLine(int c, int escaped) {
    switch (state) {
    case 0:
        if (c == '#' && lex != Lex_raw) {
            state = 1;
            break;
        }
        state = -1;
        return code(c, escaped);
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
        lex = Lex_directive;
        return code(c, escaped);
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
        lex = Lex_directive;
        return code(c, escaped);
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
        lex = Lex_directive;
        return code(c, escaped);
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
    at.put(c);
}

// A character inside a literal. Only raw strings span lines; a line feed
// ends any other literal, so that a stray quote cannot hide the rest of the
// file.
void Scanner::literal(int c, int escaped) {
    if (c == '\n') {
        newLine();
        if (lex == Lex_raw) {
            rawMatch = -1;
            at.lineHasToken = true; // the line begins inside the literal
            return;
        }
        if (escaped)
            return; // a continued line inside the literal
        lex = Lex_between;
        state = 0;
        Token t;
        t.kind = Token_literal;
        return endToken(t);
    }
    switch (lex) {
    case Lex_string:
    case Lex_char:
        if (!escaped && c == (lex == Lex_string ? '"' : '\''))
            lex = Lex_between;
        break;
    case Lex_delimiter:
        if (c == '(' && !escaped) {
            lex = Lex_raw;
            rawMatch = -1;
        } else if (escaped || c == ' ' || c == ')' || c == '"' || c == '\t' ||
                   delimiterLth >= kDelimiterSize) {
            // No raw string after all: read on as an ordinary one.
            lex = Lex_string;
            if (!escaped && c == '"')
                lex = Lex_between;
        } else {
            delimiter[delimiterLth++] = static_cast<char>(c);
        }
        break;
    default: // Lex_raw: ends at ")", the delimiter and a quote, all unescaped
        if (escaped)
            rawMatch = c == ')' ? 0 : -1; // the backslash broke any match
        else if (rawMatch == delimiterLth && c == '"')
            lex = Lex_between;
        else if (rawMatch >= 0 && rawMatch < delimiterLth && c == delimiter[rawMatch])
            ++rawMatch;
        else
            rawMatch = c == ')' ? 0 : -1;
        break;
    }
    at.put(c);
    if (lex == Lex_between) {
        Token t;
        t.kind = Token_literal;
        endToken(t);
    }
}

void Scanner::endWord() {
    Token t;
    t.kind = Token_word;
    if (wordLth <= kWordSize) {
        word[wordLth] = '\0';
        t.word = classify(std::string_view(word, static_cast<size_t>(wordLth)));
    }
    lex = Lex_between;
    endToken(t);
}

void Scanner::endPending() {
    Token t;
    t.kind = Token_punct;
    memcpy(t.punct, pending, static_cast<size_t>(pendingLth));
    t.punct[pendingLth] = '\0';
    lex = Lex_between;
    endToken(t);
}

void Scanner::finish() {
    if (lex == Lex_word)
        endWord();
    else if (lex == Lex_punct)
        endPending();
    else if (lex == Lex_number)
        lex = Lex_between;
}

void Scanner::code(int c, int escaped) {
    switch (lex) {
    case Lex_string:
    case Lex_char:
    case Lex_delimiter:
    case Lex_raw:
        return literal(c, escaped);
    case Lex_directive:
        if (c == '\n') {
            newLine();
            if (!escaped) {
                lex = Lex_between;
                state = 0;
            }
            return;
        }
        at.put(c);
        return;
    case Lex_word:
        if (isWordChar(c) && !escaped)
            return wordGoesOn(c);
        if ((c == '"' || c == '\'') && !escaped && wordLth <= 3) {
            // An encoding prefix (L, u, U, u8) or a raw string's (R, LR,
            // uR, UR, u8R) makes one literal with the quote.
            word[wordLth] = '\0';
            bool raw = c == '"' && (!strcmp(word, "R") || !strcmp(word, "LR") ||
                                    !strcmp(word, "uR") || !strcmp(word, "UR") ||
                                    !strcmp(word, "u8R"));
            bool prefix = !strcmp(word, "L") || !strcmp(word, "u") || !strcmp(word, "U") ||
                          !strcmp(word, "u8");
            if (raw || prefix) {
                lex = raw ? Lex_delimiter : c == '"' ? Lex_string : Lex_char;
                delimiterLth = 0;
                at.put(c);
                return;
            }
        }
        endWord();
        break;
    case Lex_number:
        // Digit separators, exponents with a sign, suffixes: all one number.
        if (!escaped && (isWordChar(c) || c == '.' || c == '\'' ||
                         ((c == '+' || c == '-') && strchr("eEpP", numberLast) != nullptr))) {
            numberLast = c;
            at.put(c);
            return;
        }
        lex = Lex_between;
        {
            Token t;
            t.kind = Token_number;
            endToken(t);
        }
        break;
    case Lex_punct:
        if (!escaped && pendingLth < 3 && extendsPunct(pending, pendingLth, c)) {
            pending[pendingLth++] = static_cast<char>(c);
            at.put(c);
            return;
        }
        endPending();
        break;
    case Lex_between:
        break;
    }

    // Between tokens: c begins the next one, or is a blank.
    switch (c) {
    case '\t':
    case '\r':
    case ' ':
    case '\f':
    case '\v':
        at.put(c);
        return;
    case '\n':
        newLine();
        state = 0;
        return;
    default:
        break;
    }
    startToken(c);
    if (c == '"' || c == '\'') {
        if (!escaped) {
            lex = c == '"' ? Lex_string : Lex_char;
            at.put(c);
            return;
        }
    } else if (isDigit(c)) {
        lex = Lex_number;
        numberLast = c;
        at.put(c);
        return;
    } else if (isWordChar(c)) {
        lex = Lex_word;
        word[0] = static_cast<char>(c);
        wordLth = 1;
        at.put(c);
        return;
    }
    switch (c) {
    case '{':
    case '}':
    case '(':
    case ')':
    case '[':
    case ']':
    case ';':
    case ',':
    case '?':
    case '~':
        return singleChar(c);
    default:
        lex = Lex_punct;
        pending[0] = static_cast<char>(c);
        pendingLth = 1;
        at.put(c);
        return;
    }
}


// Reads the text from fd to its end and closes fd.
void run(Scanner& s, int fd) {
    FILE* inP = fdopen(fd, "r");
    if (inP == nullptr) {
        fputs("Can't open input pipe from cpp\n", stderr);
        error_exit(2);
    }
    for (;;) {
        int c = getc_unlocked(inP);
        if (c == EOF)
            break;
        if (s.at.character < INT_MAX - 1)
            ++s.at.character;
        if (s.state < 0 && c != '\\' && s.plain(c))
            continue;
        int escaped = 0;
        if (c == '\\') {
            // The escaped character is handled in the pair's place and
            // neither opens nor ends a literal. Both bytes are columns of the
            // line, as they are in the source, so that a closing brace after
            // an escape on its line is still found at its own column.
            s.at.put(c);
            c = getc_unlocked(inP);
            if (c == EOF)
                break;
            escaped = 1;
            if (c == '\n')
                s.at.character = 0;
            else if (s.at.character < INT_MAX - 1)
                ++s.at.character;
        } else if (c == '\n') {
            s.at.character = 0;
        }

        if (s.state >= 0)
            s.markerLine(c, escaped);
        else
            s.code(c, escaped);
    }
    s.finish();
    fclose(inP);
}

} // namespace

void scan_files(const char* cwdP, int fd, const std::vector<std::string>& wantedFiles,
                std::vector<std::vector<boundaryT>>& recordsR) {
    Scanner s(cwdP);
    std::vector<int> index; // of each wanted name's constructs; a name named twice shares them
    s.files.reserve(wantedFiles.size());
    for (const std::string& name : wantedFiles) {
        auto added = s.wanted.emplace(name, static_cast<int>(s.files.size()));
        if (added.second)
            s.files.emplace_back(&s.at);
        index.push_back(added.first->second);
    }
    run(s, fd);
    recordsR.clear();
    for (int i : index)
        recordsR.push_back(s.files[static_cast<size_t>(i)].records);
}

void scan(const char* cwdP, int fd) {
    const char* wantedP = g_filenameP != nullptr ? g_filenameP : "";
    Scanner s(cwdP);
    s.wanted.emplace(wantedP, 0);
    s.files.emplace_back(&s.at);

    if (g_debug_flag) {
        char nameBuf[kNameSize];
        int n = snprintf(nameBuf, sizeof nameBuf, "%s.scan", wantedP);
        if (n < 0 || n >= kNameSize) {
            // A name that long cannot be created here; say so in full.
            fprintf(stderr, "Can't create %s.scan\n", wantedP);
        } else {
            s.at.debugP = fopen(nameBuf, "w");
            if (s.at.debugP == nullptr)
                fprintf(stderr, "Can't create %s\n", nameBuf);
            else
                fputs("0001 ", s.at.debugP);
        }
        s.everyStep = true;
    }

    try {
        run(s, fd);
    } catch (const std::bad_alloc&) {
        outofmemory(); // the records of a text too large for memory
    }

    const std::vector<boundaryT>& records = s.files[0].records;
    if (g_boundariesP == nullptr || records.size() > static_cast<size_t>(g_boundaries_max)) {
        size_t capacity = std::max(records.size(), static_cast<size_t>(kFirstCapacity));
        size_t bytes = capacity * sizeof(boundaryT);
        if (capacity > INT_MAX || bytes > UINT_MAX)
            outofmemory();
        g_boundariesP = static_cast<boundaryT*>(
            g_boundariesP == nullptr ? xmalloc1(static_cast<unsigned int>(bytes))
                                     : xrealloc1(g_boundariesP, static_cast<unsigned int>(bytes)));
        g_boundaries_max = static_cast<int>(capacity);
    }
    if (!records.empty())
        memcpy(g_boundariesP, records.data(), records.size() * sizeof(boundaryT));
    g_boundaries = static_cast<int>(records.size());

    if (s.at.debugP != nullptr) {
        fputs("\n\n", s.at.debugP);
        for (int i = 0; i < g_boundaries; ++i) {
            const boundaryT& r = g_boundariesP[i];
            fprintf(s.at.debugP, "%d.%d - %d.%d\n", r.lineno[0], r.character[0], r.lineno[1],
                    r.character[1]);
        }
        fclose(s.at.debugP);
    }
}
