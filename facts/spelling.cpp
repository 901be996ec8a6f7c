// One preprocessor run per unit: cheap next to parsing, and the only way to
// know what the compiler will write in its line markers.
#include "spelling.h"

#include "arguments.h"
#include "process.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

std::string real_path(const std::string& path) {
    char buf[PATH_MAX];
    if (realpath(path.c_str(), buf) == nullptr)
        return std::string();
    return buf;
}

void scan_line_markers(const std::string& text, const std::string& directory,
                       std::map<std::string, std::string>& spellingsR) {
    std::map<std::string, bool> seen;
    size_t pos = 0, n = text.size();
    while (pos < n) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos)
            eol = n;
        size_t i = pos;
        pos = eol + 1;
        if (text[i] != '#')
            continue;
        ++i;
        while (i < eol && text[i] == ' ')
            ++i;
        if (i >= eol || text[i] < '1' || text[i] > '9')
            continue;
        while (i < eol && text[i] >= '0' && text[i] <= '9')
            ++i;
        if (i >= eol || text[i] != ' ')
            continue;
        while (i < eol && text[i] == ' ')
            ++i;
        if (i >= eol || text[i] != '"')
            continue;
        size_t close = text.find('"', i + 1);
        if (close == std::string::npos || close > eol)
            continue;
        std::string name = text.substr(i + 1, close - i - 1);
        if (name.empty() || name[0] == '<' || seen.count(name))
            continue;
        seen[name] = true;
        std::string spelled = name[0] == '/' ? name : directory + "/" + name;
        std::string real = real_path(spelled);
        if (!real.empty())
            spellingsR.emplace(real, spelled);
    }
}

bool learn_spellings(const CCompileCommand& cmd, std::map<std::string, std::string>& spellingsR,
                     std::string& textR, std::string& errorR) {
    std::vector<std::string> args = preprocessor_arguments(cmd);
    if (args[0].empty() || args[0][0] != '/') {
        errorR = "compiler " + args[0] + " has no absolute path";
        return false;
    }
    CProgramRun run = run_program(args, cmd.m_directory, true);
    textR = std::move(run.m_out);
    if (!run.succeeded()) {
        errorR = run.failure(args[0] + " -E");
        return false;
    }
    std::string& text = textR;
    scan_line_markers(text, cmd.m_directory, spellingsR);
    return true;
}

CPreprocessed preprocess_unit(const CCompileCommand& cmd) {
    CPreprocessed pre;
    pre.m_ran = learn_spellings(cmd, pre.m_spellings, pre.m_text, pre.m_error);
    return pre;
}
