// The lexical level of TA fact files. Two readers share one input and one
// character of look-ahead: nextToken splits the structure into words, quoted
// strings, the colon and the delimiters = { } ( ), resolving backslash
// escapes; nextAVI, called right after an "=", gathers one attribute value
// (a word, a quoted string or a nested list of them) raw and returns it in a
// normalised form. Every text handed out is interned, so it outlives the
// next token. The input is read in large blocks with plain read(2) so that
// files of hundreds of megabytes, pipes and standard input load alike.
#ifndef LOPWORT_TASTREAMTOKENIZER_H
#define LOPWORT_TASTREAMTOKENIZER_H

#include "LandscapeObject.h"

#include <cstdio>
#include <string>
#include <vector>

// Token types of nextToken; a delimiter is returned as its own character
// code and the colon as 58.
const int TT_EOF = -1;
const int TT_WORD = -2;
const int TT_COLON = ':';

// What a tokenizer with a message sink throws where it would end the
// process: the status to end it with, once what came before is applied.
struct CTokenizerExit {
    int code;
};

// A message the tokenizer would have printed, kept for later.
struct CTokenizerMessage {
    FILE* streamP;
    std::string text;
};

class CStreamTokenizer : public Cobject {
  public:
    FILE* m_F;
    const char* m_filenameP; // "" for standard input
    int m_peekc;             // next character not yet consumed, -1 at end of input
    int m_pushedBack;
    int m_escaped; // the quote charToken last returned came from an escape
    int m_buf_size;
    char* m_bufP; // text of the token or value being read
    const char* m_textP = nullptr; // the word in the input block, else null
    int m_ttype;  // the pushed-back token type
    const char* m_svalP;
    int m_lineno;
    // Set while nextRawToken runs on a reader thread ahead of the fact base:
    // messages are kept here instead of printed, a fatal error throws
    // CTokenizerExit, and the text of an end of input or a colon is not
    // interned (the string cache belongs to the other thread) but named in
    // m_pendingSvalP, with m_svalP left null.
    std::vector<CTokenizerMessage>* m_deferP;
    const char* m_pendingSvalP;

    // Class 2 marks the characters that end a word: white space other than
    // the vertical tab, and the five delimiters.
    static char* m_ctypeP;

    CStreamTokenizer();
    // Gives back the buffers and closes an input still open (one left by a
    // fatal error), so that a process can load many files.
    ~CStreamTokenizer();
    CStreamTokenizer(const CStreamTokenizer&) = delete;
    CStreamTokenizer& operator=(const CStreamTokenizer&) = delete;

    void open(const char* filenameP);
    void close();
    const char* filename() const { return m_filenameP; }
    int lineno() const { return m_lineno; }
    // The size of the input when it is a regular file, else 0.
    size_t inputSize() const { return m_inputSize; }

    int nextToken();
    // The same, except that a word is not interned: its text (*lthP bytes
    // at rawText(), not terminated) stays until the next read, and m_svalP
    // is null. A reader that takes many words at once interns them together
    // (see stringCachePrefetch).
    int nextRawToken(int* lthP);
    // Where the text of the last raw word or value is: the text buffer, or
    // the input block when a word lay whole in it.
    const char* rawText() const { return m_textP ? m_textP : m_bufP; }
    void pushBack(int ttype) {
        m_pushedBack = 1;
        m_ttype = ttype;
    }
    const char* nextAVI();
    // The same, except that the value is not interned: 1 with its text left
    // at rawText() (*lthP bytes), or 0 where nextAVI gives null.
    int nextRawAVI(int* lthP);

    // Prints the message (or keeps it, see m_deferP) and ends the process
    // with the status.
    [[noreturn]] void fail(int code, const char* messageP);

    int charToken();
    int charAVI();
    const char* getString(int pos);
    int enlargeBuffer();
    void dumpBuf(int lth);

  private:
    // The input block and the read position in it.
    char* m_inP;
    char* m_inPosP;
    char* m_inEndP;
    int m_inSize; // capacity of the block, fitted to the input at open
    int m_inEof; // end of input seen: never read again
    size_t m_inputSize;

    int readChar() {
        if (m_inPosP < m_inEndP)
            return static_cast<unsigned char>(*m_inPosP++);
        return refill();
    }
    int refill();
    // Inputs of more than 2^31 lines keep reporting the last countable line.
    void countLine() {
        if (m_lineno < 2147483647)
            ++m_lineno;
    }
    [[noreturn]] void readFailed();
    void say(FILE* streamP, const char* textP);
    int isWordEnd(int c) const { return c >= 0 && m_ctypeP[c] == 2; }
    void store(int pos, int c) {
        if (pos >= m_buf_size)
            enlargeBuffer();
        if (c == 0)
            nulInText();
        m_bufP[pos] = static_cast<char>(c);
    }
    [[noreturn]] void nulInText();
    void skipBlockComment(int raw);
    void skipLineComment(int raw);
    int quotedItem(int q, int lth, int* itemsP);
    // Moves the look-ahead, which must be plain by plainP, and the plain
    // characters after it into the text buffer at lth, as the character
    // readers would one by one; returns the new length.
    int takePlain(int lth, const unsigned char* plainP);
    int wordItem(int c, int lth, int* itemsP);
};

#endif
