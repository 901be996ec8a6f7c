// Asking the recorded compiler "-x LANG -E -dM -v /dev/null": the macro
// dump tells its default standard and its identity, the verbose lines its
// include search list. The answers are cached for the run in the parent, so
// every worker forked afterwards has them without asking again.
#include "compiler.h"

#include "process.h"

#include <cstdlib>
#include <cstring>
#include <tuple>

static bool starts_with(const std::string& s, const char* prefix) {
    return s.compare(0, strlen(prefix), prefix) == 0;
}

static std::string base_name(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string unit_language(const CCompileCommand& cmd) {
    const std::vector<std::string>& args = cmd.m_arguments;
    std::string explicitLanguage;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "-x" && i + 1 < args.size())
            explicitLanguage = args[++i];
        else if (starts_with(args[i], "-x") && args[i].size() > 2)
            explicitLanguage = args[i].substr(2);
    }
    auto known = [](const std::string& lang) -> std::string {
        for (const char* l : {"c", "c++", "objective-c", "objective-c++"}) {
            if (lang == l || lang == std::string(l) + "-header")
                return l;
        }
        return std::string();
    };
    if (!explicitLanguage.empty() && explicitLanguage != "none")
        return known(explicitLanguage);
    std::string name = base_name(cmd.m_file);
    size_t dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    // g++, c++, clang++ and their versioned or prefixed names.
    bool cxxDriver = base_name(cmd.m_compiler).find("++") != std::string::npos;
    if (ext == "c" || ext == "h" || ext == "i")
        return cxxDriver ? "c++" : "c";
    if (ext == "cc" || ext == "cp" || ext == "cxx" || ext == "cpp" || ext == "CPP" ||
        ext == "c++" || ext == "C" || ext == "ii" || ext == "hh" || ext == "hpp" || ext == "hxx" ||
        ext == "H" || ext == "tcc")
        return "c++";
    if (ext == "m")
        return cxxDriver ? "objective-c++" : "objective-c";
    if (ext == "mm" || ext == "M")
        return "objective-c++";
    return std::string();
}

std::string target_option(const CCompilerDefaults& defaults, const std::string& hostTriple) {
    const std::string& target = defaults.m_target;
    if (target.empty() || target.find(' ') != std::string::npos)
        return std::string();
    std::string arch = target.substr(0, target.find('-'));
    std::string hostArch = hostTriple.substr(0, hostTriple.find('-'));
    return arch == hostArch ? std::string() : "--target=" + target;
}

bool CCompilerQuestion::operator<(const CCompilerQuestion& o) const {
    return std::tie(m_compiler, m_directory, m_language, m_options) <
           std::tie(o.m_compiler, o.m_directory, o.m_language, o.m_options);
}

CCompilerQuestion compiler_question(const CCompileCommand& cmd) {
    CCompilerQuestion q;
    q.m_compiler = cmd.m_compiler;
    q.m_language = unit_language(cmd);
    const std::vector<std::string>& args = cmd.m_arguments;
    bool relative = false;
    auto keep_path = [&](const std::string& option, const std::string& value) {
        q.m_options.push_back(option);
        if (!value.empty() && value[0] != '/')
            relative = true;
    };
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        bool hasNext = i + 1 < args.size();
        if (starts_with(a, "-std=") || starts_with(a, "--std=") || a == "-ansi" ||
            a == "-m32" || a == "-m64" || a == "-mx32" || a == "-m16" ||
            starts_with(a, "-stdlib=") || a == "-nostdinc" || a == "-nostdinc++" ||
            a == "-nostdlibinc" || starts_with(a, "--target=")) {
            q.m_options.push_back(a);
        } else if ((a == "-target" || a == "--target") && hasNext) {
            q.m_options.push_back(a);
            q.m_options.push_back(args[++i]);
        } else if ((a == "--sysroot" || a == "-isysroot" || a == "-B" ||
                    a == "--gcc-toolchain" || a == "-specs" || a == "--specs") &&
                   hasNext) {
            q.m_options.push_back(a);
            keep_path(args[i + 1], args[i + 1]);
            ++i;
        } else if (starts_with(a, "--sysroot=") || starts_with(a, "--gcc-toolchain=") ||
                   starts_with(a, "-specs=") || starts_with(a, "--specs=")) {
            keep_path(a, a.substr(a.find('=') + 1));
        } else if (starts_with(a, "-isysroot") || (starts_with(a, "-B") && a.size() > 2)) {
            keep_path(a, a.substr(starts_with(a, "-B") ? 2 : 9));
        }
    }
    if (relative)
        q.m_directory = cmd.m_directory;
    return q;
}

static std::string trim_right(const std::string& s) {
    size_t end = s.find_last_not_of(" \t\r");
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

void read_compiler_answer(const std::string& out, const std::string& err,
                          CCompilerDefaults& defaultsR) {
    size_t pos = 0;
    while (pos < out.size()) {
        size_t eol = out.find('\n', pos);
        std::string line = out.substr(pos, eol == std::string::npos ? eol : eol - pos);
        pos = eol == std::string::npos ? out.size() : eol + 1;
        if (!starts_with(line, "#define "))
            continue;
        size_t nameStart = 8;
        size_t nameEnd = line.find_first_of(" (", nameStart);
        std::string name = line.substr(nameStart, nameEnd == std::string::npos
                                                       ? std::string::npos
                                                       : nameEnd - nameStart);
        std::string body;
        if (nameEnd != std::string::npos && line[nameEnd] == ' ')
            body = trim_right(line.substr(nameEnd + 1));
        else if (nameEnd != std::string::npos)
            continue; // a function-like macro: never an identity or a version
        if (!name.empty())
            defaultsR.m_macros[name] = body;
    }
    bool inList = false;
    pos = 0;
    while (pos < err.size()) {
        size_t eol = err.find('\n', pos);
        std::string line = trim_right(err.substr(pos, eol == std::string::npos ? eol : eol - pos));
        pos = eol == std::string::npos ? err.size() : eol + 1;
        if (line == "#include <...> search starts here:") {
            inList = true;
            continue;
        }
        if (!inList)
            continue;
        if (line == "End of search list.")
            break;
        if (line.empty() || line[0] != ' ')
            continue;
        std::string dir = line.substr(line.find_first_not_of(' '));
        const char* framework = " (framework directory)";
        if (dir.size() > strlen(framework) &&
            dir.compare(dir.size() - strlen(framework), std::string::npos, framework) == 0)
            continue;
        defaultsR.m_includeDirs.push_back(dir);
    }
}

static std::string version_of(const std::map<std::string, std::string>& macros,
                              const char* name) {
    auto it = macros.find(name);
    if (it == macros.end())
        return std::string();
    std::string v = it->second;
    while (!v.empty() && (v.back() == 'L' || v.back() == 'l'))
        v.pop_back();
    return v;
}

std::string CCompilerDefaults::standard() const {
    bool gnu = m_macros.count("__STRICT_ANSI__") == 0;
    if (m_language == "c++" || m_language == "objective-c++") {
        long v = atol(version_of(m_macros, "__cplusplus").c_str());
        const char* year = v > 202002 ? "2b" : v == 202002 ? "20" : v >= 201703 ? "17"
                         : v >= 201402 ? "14" : v >= 201103 ? "11" : v > 0 ? "98" : nullptr;
        return year ? std::string(gnu ? "gnu++" : "c++") + year : std::string();
    }
    if (m_language == "c" || m_language == "objective-c") {
        std::string text = version_of(m_macros, "__STDC_VERSION__");
        if (m_macros.count("__STDC__") == 0)
            return std::string();
        long v = atol(text.c_str());
        const char* year = text.empty() ? "89" : v > 201710 ? "2x" : v >= 201710 ? "17"
                         : v >= 201112 ? "11" : v >= 199901 ? "99" : nullptr;
        if (!year && v == 199409)
            return "iso9899:199409";
        return year ? std::string(gnu ? "gnu" : "c") + year : std::string();
    }
    return std::string();
}

const CCompilerDefaults& CCompilerCache::defaults(const CCompilerQuestion& question) {
    auto found = m_answers.find(question);
    if (found != m_answers.end())
        return found->second;
    CCompilerDefaults& d = m_answers[question];
    d.m_language = question.m_language;
    if (question.m_language.empty()) {
        d.m_error = "not a C or C++ unit";
        return d;
    }
    std::vector<std::string> args{question.m_compiler};
    args.insert(args.end(), question.m_options.begin(), question.m_options.end());
    for (const char* a : {"-x", question.m_language.c_str(), "-E", "-dM", "-v", "/dev/null"})
        args.push_back(a);
    CProgramRun run =
        run_program(args, question.m_directory.empty() ? "/" : question.m_directory, true);
    if (!run.succeeded()) {
        d.m_error = run.failure(question.m_compiler);
        return d;
    }
    read_compiler_answer(run.m_out, run.m_err, d);
    d.m_known = !d.m_macros.empty();
    args.resize(1 + question.m_options.size());
    args.push_back("-dumpmachine");
    CProgramRun machine =
        run_program(args, question.m_directory.empty() ? "/" : question.m_directory, false);
    if (machine.succeeded())
        d.m_target = trim_right(machine.m_out.substr(0, machine.m_out.find('\n')));
    if (!d.m_known)
        d.m_error = question.m_compiler + " listed no predefined macros";
    return d;
}

// "a/b/../c" as "a/c": the search lists of gcc and clang name directories
// through "lib/gcc/TARGET/12/../../../../include".
static std::string lexically_normal(const std::string& dir) {
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= dir.size()) {
        size_t slash = dir.find('/', pos);
        if (slash == std::string::npos)
            slash = dir.size();
        std::string part = dir.substr(pos, slash - pos);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        pos = slash + 1;
    }
    std::string out;
    for (const std::string& p : parts)
        out += "/" + p;
    return out.empty() ? "/" : out;
}

bool is_compiler_internal_dir(const std::string& rawDir) {
    std::string dir = lexically_normal(rawDir);
    std::vector<std::string> parts;
    for (size_t pos = 1; pos <= dir.size();) {
        size_t slash = dir.find('/', pos);
        if (slash == std::string::npos)
            slash = dir.size();
        parts.push_back(dir.substr(pos, slash - pos));
        pos = slash + 1;
    }
    size_t n = parts.size();
    auto is_lib = [&](size_t i) { return parts[i].compare(0, 3, "lib") == 0; };
    // LIB/gcc/TARGET/VERSION/include and include-fixed
    if (n >= 5 && (parts[n - 4] == "gcc" || parts[n - 4] == "gcc-cross") && is_lib(n - 5) &&
        (parts[n - 1] == "include" || parts[n - 1] == "include-fixed"))
        return true;
    // LIB/clang/VERSION/include
    return n >= 4 && parts[n - 3] == "clang" && is_lib(n - 4) && parts[n - 1] == "include";
}

bool is_identity_macro(const std::string& name) {
    static const char* const names[] = {"__GNUC__",   "__GNUC_MINOR__",    "__GNUC_PATCHLEVEL__",
                                        "__GNUG__",   "__VERSION__",       "__GXX_ABI_VERSION",
                                        "__llvm__",   "__INTEL_COMPILER",  "__INTEL_LLVM_COMPILER",
                                        "__clang__"};
    for (const char* n : names)
        if (name == n)
            return true;
    return starts_with(name, "__clang_") && name.size() > 10 && name.back() == '_';
}
