// The lexical rules of TA text: tokens, escapes, comments, line counting and
// the normal form of attribute values, each table-driven over small inputs.
#include "TAStreamTokenizer.h"

#include "cli.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

// A tokenizer opened on a file that holds the given text.
struct Opened {
    std::string dir = makeTempDir();
    std::string path = dir + "/in.ta";
    CStreamTokenizer tok;
    explicit Opened(const std::string& text) {
        writeFile(path, text);
        tok.open(path.c_str());
    }
    ~Opened() {
        tok.close();
        unlink(path.c_str());
        rmdir(dir.c_str());
    }
};

std::string show(CStreamTokenizer& tok, int t) {
    if (t == TT_WORD)
        return "W:" + std::string(tok.m_svalP);
    if (t == TT_EOF)
        return std::string("EOF:") + tok.m_svalP;
    if (t == TT_COLON)
        return std::string("C:") + tok.m_svalP;
    EXPECT_EQ(tok.m_svalP, nullptr);
    return std::string(1, static_cast<char>(t));
}

// Every token up to and including the end, with the line each ends on.
std::string tokens(const std::string& text, bool withLines = false) {
    Opened in(text);
    std::string all;
    for (int t = 0; t != TT_EOF;) {
        t = in.tok.nextToken();
        all += (all.empty() ? "" : "|") + show(in.tok, t);
        if (withLines)
            all += "@" + std::to_string(in.tok.lineno());
    }
    return all;
}

TEST(Tokenizer, Tokens) {
    struct Row {
        std::string in, out;
    } rows[] = {
        {"", "EOF:EOF"},
        {"SCHEME TUPLE :", "W:SCHEME|W:TUPLE|C::|EOF:EOF"},
        {"SCHEME TUPLE:", "W:SCHEME|W:TUPLE:|EOF:EOF"},
        {"a=b{c}(d)", "W:a|=|W:b|{|W:c|}|(|W:d|)|EOF:EOF"},
        {"a//b // c\nd", "W:a//b|W:d|EOF:EOF"},
        {"x/*y*/ /*/z /**/w", "W:x/*y*/|W:z|W:w|EOF:EOF"},
        {"a /* never closed", "W:a|EOF:EOF"},
        {"a //x\rb //y\r\nc", "W:a|W:b|W:c|EOF:EOF"},
        {"/ /x", "W:/|W:/x|EOF:EOF"},
        {"\"a b\" 'c\"d' \"e\\\"f\" \"\"", "W:a b|W:c\"d|W:e\"f|W:|EOF:EOF"},
        {"\":\" x", "W::|W:x|EOF:EOF"},
        {"\"a\"b", "W:a|W:b|EOF:EOF"},
        {"a\"b c\"", "W:a\"b|W:c\"|EOF:EOF"},
        {"\\( x\\(y x\\ y", "(|W:x(y|W:x y|EOF:EOF"},
        {"a\\nb\\t\\f\\r\\e\\d\\q", "W:a\nb\t\f\r\x1b\x7fq|EOF:EOF"},
        {"a\\\\b", "W:a\\b|EOF:EOF"},
        {"a\\\\ b c", "W:a\\ b|W:c|EOF:EOF"},
        {"ab\\", "W:ab|EOF:EOF"},
        {"a\vb \xe9\xff", "W:a\vb|W:\xe9\xff|EOF:EOF"},
        {"/* \0 */ a"s, "W:a|EOF:EOF"},
        {"// \\n b", "W:b|EOF:EOF"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(tokens(r.in), r.out) << r.in;
}

TEST(Tokenizer, LinesAreCountedWhenTheirLineFeedIsConsumed) {
    EXPECT_EQ(tokens("a\nb\n\n c\n", true), "W:a@1|W:b@2|W:c@4|EOF:EOF@5");
    EXPECT_EQ(tokens("a\\\nb c", true), "W:a\nb@2|W:c@2|EOF:EOF@2");
    EXPECT_EQ(tokens("/*\n\n*/ a // x\n b", true), "W:a@3|W:b@4|EOF:EOF@4");
    EXPECT_EQ(tokens("\"a\nb\" c", true), "W:a\nb@2|W:c@2|EOF:EOF@2");
}

TEST(Tokenizer, EndOfInputRepeatsAndPushBackReturnsOneType) {
    Opened in("x");
    EXPECT_EQ(in.tok.nextToken(), TT_WORD);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(in.tok.nextToken(), TT_EOF);
        EXPECT_STREQ(in.tok.m_svalP, "EOF");
    }
    in.tok.pushBack('{');
    in.tok.pushBack('}');
    EXPECT_EQ(in.tok.nextToken(), '}');
    EXPECT_EQ(in.tok.nextToken(), TT_EOF);
}

TEST(Tokenizer, UnterminatedQuoteIsReportedOnStandardOutput) {
    for (const char* q : {"\"", "'"}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(tokens(std::string("a ") + q + "b c"), "W:a|W:b c|EOF:EOF");
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string("Unterminated ") + q + " in input\n");
    }
}

TEST(Tokenizer, TokensHaveNoLengthLimit) {
    std::string big(3 * 1024 * 1024 + 7, 'x');
    big[100000] = '\\'; // an escaped character deep inside
    big[100001] = 'n';
    std::string want = big;
    want.replace(100000, 2, "\n");
    EXPECT_EQ(tokens(big + " y"), "W:" + want + "|W:y|EOF:EOF");
    EXPECT_EQ(tokens("\"" + big + "\""), "W:" + want + "|EOF:EOF");
}

// The input is read in blocks of 256 KiB, and runs of ordinary characters are
// taken from a block at once: a text cut anywhere by the end of a block must
// read as it does elsewhere, escapes, quotes and line feeds included.
TEST(Tokenizer, TextsReadAlikeAcrossBlockEnds) {
    const std::string tail = "word\\x\"y \"q\\\"s\nt\" = ( \"a b\" c\\d 'e\nf' ) end : /x a:b\n";
    const std::string want = "W:wordx\"y@1|W:q\"s\nt@2|=@2|(@2|W:a b@2|W:c\x7f@2|W:e\nf@3|)@3|W:end@3|"
                             "C::@3|W:/x@3|W:a:b@3|EOF:EOF@4";
    const size_t block = 256 * 1024;
    for (size_t cut = 0; cut < tail.size() + 2; ++cut) {
        std::string pad(block - cut, ' ');
        std::string got = tokens(pad + tail, true);
        ASSERT_EQ(got, want) << "cut " << cut;
    }
    for (size_t cut = 0; cut < 24; ++cut) {
        Opened in(std::string(block - cut, ' ') + "(x \"a\\\"b c\" 'd e' f\\g) h");
        ASSERT_STREQ(in.tok.nextAVI(), "(x \"a\\\"b c\" 'd e' \"f\\g\")") << "cut " << cut;
        ASSERT_EQ(in.tok.nextToken(), TT_WORD) << "cut " << cut;
        ASSERT_STREQ(in.tok.m_svalP, "h");
    }
}

// The value after "=", then the token that follows it.
std::string value(const std::string& text) {
    Opened in(text);
    const char* valueP = in.tok.nextAVI();
    std::string v = valueP ? "V:" + std::string(valueP) : "null";
    return v + "|" + show(in.tok, in.tok.nextToken());
}

TEST(Tokenizer, AttributeValuesAreNormalised) {
    struct Row {
        std::string in, out, err = "";
    } rows[] = {
        {"abc }", "V:abc|}"},
        {" \"abc\" x", "V:abc|W:x"},
        {"\"a b\"", "V:\"a b\"|EOF:EOF"},
        {"'x' y", "V:x|W:y"},
        {"'a\"b'", "V:'a\"b'|EOF:EOF"},
        {"\"a(b\"", "V:\"a(b\"|EOF:EOF"},
        {"\"a\\\"b\"", "V:\"a\\\"b\"|EOF:EOF"},
        {"\"\"", "V:|EOF:EOF"},
        {"( x )", "V:x|EOF:EOF"},
        {"(  a   b  ) c", "V:(a b)|W:c"},
        {"((a) b)", "V:((a) b)|EOF:EOF"},
        {"(a (b c) \"d e\")", "V:(a (b c) \"d e\")|EOF:EOF"},
        {"(\"x\")", "V:x|EOF:EOF"},
        {"a\\b c\\", "V:\"a\\b\"|W:c"},
        {"x=y", "V:x|="},
        {"a\"b c", "V:a\"b|W:c"},
        {"/* c */ x // y\n", "V:x|EOF:EOF"},
        {"(a // c )\n b /*)*/)", "V:(a b)|EOF:EOF"},
        {"} x", "null|}"},
        {"= x", "null|="},
        {"(a {", "null|{"},
        {"(a b", "null|EOF:EOF"},
        {"", "null|EOF:EOF"},
        {"()", "null|EOF:EOF", "Empty nesting of () at 1\n"},
        {"(() a)", "V:( a)|EOF:EOF", "Empty nesting of () at 1\n"},
        {"\n) x", "null|W:x", "Bad nesting of () at 2\n"},
        {"\"ab", "V:ab|EOF:EOF", "Unterminated \" in input\n"},
        {"'a b", "V:'a b'|EOF:EOF", "Unterminated ' in input\n"},
    };
    for (const Row& r : rows) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(value(r.in), r.out) << r.in;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, r.err) << r.in;
    }
}

TEST(TokenizerDeathTest, NulInsideATextIsRefused) {
    const char* message = "\\*\\*\\* Error \\([12]\\): NUL character in input\nExit code 1\n";
    for (const std::string& in : {"a\0b"s, "\"\0\""s, "\n\0"s}) {
        EXPECT_EXIT(tokens(in), testing::ExitedWithCode(1), message);
        EXPECT_EXIT(value(in), testing::ExitedWithCode(1), message);
    }
}

TEST(Tokenizer, DeepValuesCostNoStack) {
    const int depth = 20000;
    std::string in = std::string(depth, '(') + "a" + std::string(depth, ')');
    std::string want = std::string(depth, '(') + "a" + std::string(depth, ')');
    EXPECT_EQ(value(in), "V:" + want + "|EOF:EOF");
}

TEST(Tokenizer, LinesInsideValuesAreCounted) {
    Opened in("(a\nb /*\n*/ 'c\nd')\nx");
    EXPECT_STREQ(in.tok.nextAVI(), "(a b 'c\nd')");
    EXPECT_EQ(in.tok.nextToken(), TT_WORD);
    EXPECT_EQ(in.tok.lineno(), 5);
}

} // namespace
