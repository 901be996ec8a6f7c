// The guard-and-strip cycle over arbitrary source text and boundary records.
// After every rewrite the guards must pair up as the preprocessor reads the
// file, and stripping the result must give back the text that was guarded,
// byte for byte; a read run must write the file back unchanged, a write run
// must leave the source alone, and a file that did not load is never written.
//
// Input: byte 0 chooses the mode (low two bits: read, strip, write, update)
// and whether a compile command follows (bit 2); byte 1 the number of
// records (low four bits), then five bytes for each (first line, first
// column, last line, column after the end, dead); with a compile command, a
// length byte and that many bytes of arguments separated by blanks; the rest
// is the source text.
#include "boundaries.h"
#include "fuzz_support.h"
#include "lopwort.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeAll(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

const char* const kBeginnings[] = {"#if !defined(_DEAD_)", "#ifndef _DEAD_", "#endif /* _DEAD_"};

// The directives of a text as the preprocessor finds them: lines joined at
// a backslash before the line feed (blanks between them accepted, as
// compilers do), comments taken out (string literals are not looked at: the
// guard writer does not know them either). Each comes as written, comments
// and all, and as the preprocessor reads it.
struct Directive {
    std::string written, read;
};

std::vector<Directive> directives(const std::string& text) {
    std::vector<Directive> found;
    bool inComment = false;
    for (size_t i = 0; i < text.size();) {
        std::string line;
        for (; i < text.size(); ++i) {
            size_t lf = text.find_first_not_of(" \t\r\f\v", i + 1);
            if (text[i] == '\\' && lf < text.size() && text[lf] == '\n')
                i = lf;
            else if (text[i] == '\n' && ++i)
                break;
            else
                line += text[i];
        }
        std::string code;
        for (size_t j = 0; j < line.size();) {
            if (inComment) {
                inComment = line.compare(j, 2, "*/") != 0;
                j += inComment ? 1 : 2;
                code += inComment ? "" : " ";
            } else if (line.compare(j, 2, "/*") == 0) {
                inComment = true;
                j += 2;
            } else if (line.compare(j, 2, "//") == 0) {
                break;
            } else {
                code += line[j++];
            }
        }
        size_t first = code.find_first_not_of(" \t\f\v\r");
        if (first != std::string::npos && code[first] == '#')
            found.push_back({line.substr(line.find_first_not_of(" \t\f\v\r")), code.substr(first)});
    }
    return found;
}

// Whether the text holds something that looks like a guard line, either as
// written or once continued lines are joined ("#if\\\nndef _DEAD_"): the
// checks below would take it for one of ours.
bool hasGuardTexts(const std::string& text) {
    for (const char* beginningP : kBeginnings)
        if (text.find(beginningP) != std::string::npos)
            return true;
    for (const Directive& d : directives(text))
        for (const char* beginningP : kBeginnings)
            if (d.written.compare(0, strlen(beginningP), beginningP) == 0)
                return true;
    return false;
}

// The conditional a directive opens ('(' ), continues ('|') or closes (')').
char kindOf(const std::string& directive) {
    size_t at = directive.find_first_not_of(" \t\f\v", 1);
    std::string word = directive.substr(at == std::string::npos ? 1 : at);
    size_t lth = 0;
    while (lth < word.size() && (isalnum(static_cast<unsigned char>(word[lth])) || word[lth] == '_'))
        ++lth;
    word.resize(lth);
    if (word == "if" || word == "ifdef" || word == "ifndef")
        return '(';
    if (word == "else" || word == "elif" || word == "elifdef" || word == "elifndef")
        return '|';
    return word == "endif" ? ')' : 0;
}

// Whether the text's own conditionals nest properly.
bool wellNested(const std::string& text) {
    int depth = 0;
    for (const Directive& d : directives(text)) {
        char kind = kindOf(d.read);
        if ((kind == ')' && depth-- == 0) || (kind == '|' && depth == 0))
            return false;
        depth += kind == '(';
    }
    return depth == 0;
}

// The written text: the header first (a strip that guards nothing gives
// the text back without one), and every guard pair a conditional of its
// own that the text's conditionals neither cut nor continue.
void checkGuards(const std::string& out, const std::string& source, modeE mode) {
    std::vector<Directive> found = directives(out);
    size_t written = 0;
    for (size_t at = 0; (at = out.find("\n#ifndef _DEAD_", at)) != std::string::npos; ++at)
        ++written;
    bool header = !found.empty() && found[0].written.compare(0, 20, "#if !defined(_DEAD_)") == 0;
    FUZZ_CHECK(header == (mode != Strip_source || written > 0));
    bool nested = wellNested(source);
    std::vector<char> open; // 'G' for a guard, 'U' for any other conditional
    size_t guards = 0;
    for (const Directive& d : found) {
        bool startGuard = d.written.compare(0, 14, "#ifndef _DEAD_") == 0;
        // The header's own "#endif /* _DEAD_ */" carries no stamp.
        bool endGuard = d.written.compare(0, 16, "#endif /* _DEAD_") == 0 && isdigit(d.written[16]);
        char kind = kindOf(d.read);
        guards += startGuard;
        if (!nested)
            continue;
        if (kind == '(')
            open.push_back(startGuard ? 'G' : 'U');
        FUZZ_CHECK(kind != '|' || (!open.empty() && open.back() == 'U'));
        if (kind == ')') {
            FUZZ_CHECK(!open.empty() && (open.back() == 'G') == endGuard);
            open.pop_back();
        }
    }
    FUZZ_CHECK(guards == written);
    FUZZ_CHECK(!nested || open.empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dataP, size_t size) {
    static const std::string dir = fuzz_scratch_dir(), path = dir + "/src.c",
                             dead = path + ".dead", back = dir + "/back.c";
    static std::vector<boundaryT> records;
    static std::vector<std::string> words;
    static std::vector<char*> vector;
    if (size < 2)
        return 0;
    modeE mode = static_cast<modeE>(Read_source + (dataP[0] & 3));
    size_t at = 2, count = dataP[1] & 15;
    records.clear();
    for (size_t i = 0; i < count && at + 5 <= size; ++i, at += 5)
        records.push_back(boundaryT{{dataP[at], dataP[at + 2]}, {dataP[at + 1], dataP[at + 3]},
                                    dataP[at + 4] & 1, (dataP[at + 4] >> 1) & 1});
    words = {"/src", "/usr/bin/cc"};
    if ((dataP[0] & 4) && at < size) {
        size_t lth = std::min<size_t>(dataP[at], size - at - 1);
        std::istringstream blanks(std::string(reinterpret_cast<const char*>(dataP) + at + 1, lth));
        for (std::string word; blanks >> word;)
            words.push_back(word);
        at += 1 + lth;
    }
    vector.clear();
    for (std::string& word : words)
        vector.push_back(&word[0]);
    vector.push_back(nullptr);
    const std::string text(reinterpret_cast<const char*>(dataP) + at, size - at);

    writeAll(path, text);
    unlink(dead.c_str());
    g_filenameP = path.c_str();
    g_mode = mode;
    g_changed = 0;
    g_lines_code = g_updated = g_stripped = 0; // counters would overflow in a long campaign
    g_argsPP = vector.data();
    int loaded = load_source();
    g_boundariesP = records.data();
    g_boundaries = static_cast<int>(records.size());
    g_changed = 1;
    const std::string kept = loaded == 0 ? g_sourceP : "";
    update_source();
    FUZZ_CHECK(readAll(path) == text || (loaded == 0 && mode != Write_source));
    FUZZ_CHECK(access(dead.c_str(), F_OK) != 0 || (loaded == 0 && mode == Write_source));
    if (loaded != 0)
        return 0;
    std::string out = readAll(mode == Write_source ? dead : path);
    if (mode == Read_source) {
        FUZZ_CHECK(out == text);
        return 0;
    }
    if (hasGuardTexts(kept))
        return 0; // the text's own guard lines would be stripped with ours
    if (getenv("LOPWORT_FUZZ_SHOW") != nullptr) // to see what a failing input wrote
        fprintf(stderr, "written:\n%s\n", out.c_str());
    checkGuards(out, kept, mode);
    if (out.empty()) {
        // A strip that left nothing and guarded nothing: an empty file,
        // which a later run cannot load.
        FUZZ_CHECK(kept.empty() && mode == Strip_source);
        return 0;
    }
    writeAll(back, out);
    g_filenameP = back.c_str();
    g_mode = Strip_source;
    FUZZ_CHECK(load_source() == 0 && kept == g_sourceP);
    return 0;
}
