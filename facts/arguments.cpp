// Rewriting recorded compile commands. The lopwort filter is mirrored here
// on purpose: the spelling of file names is learned from the very command
// that lopwort will later run, so any difference would make its scanner
// miss the file.
#include "arguments.h"

#include <cstring>
#include <initializer_list>

#include <clang/Driver/Options.h>
#include <llvm/Option/Arg.h>
#include <llvm/Option/ArgList.h>
#include <llvm/Option/OptTable.h>
#include <llvm/Option/Option.h>
#include <llvm/Support/Host.h>

static bool is_dependency_option(const std::string& a, bool& takesValueR) {
    takesValueR = a == "-MF" || a == "-MT" || a == "-MQ";
    return a == "-M" || a == "-MM" || a == "-MD" || a == "-MMD" || a == "-MP" || a == "-MG" ||
           takesValueR || (a.size() > 3 && (a.compare(0, 3, "-MF") == 0 ||
                                            a.compare(0, 3, "-MT") == 0 ||
                                            a.compare(0, 3, "-MQ") == 0));
}

const char kRevealGuards[] = "-D_DEAD_";

std::vector<std::string> preprocessor_arguments(const CCompileCommand& cmd) {
    std::vector<std::string> out{cmd.m_compiler, "-E", "-ftabstop=1", kRevealGuards};
    const std::vector<std::string>& args = cmd.m_arguments;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() >= 2 && a[0] == '-' && strchr("CPScg", a[1]) != nullptr)
            continue;
        if (a == "-o") {
            ++i;
            continue;
        }
        if (a.size() > 2 && a.compare(0, 2, "-o") == 0)
            continue;
        bool takesValue = false;
        if (is_dependency_option(a, takesValue)) {
            if (takesValue)
                ++i;
            continue;
        }
        out.push_back(a);
    }
    return out;
}

// Standards that a newer gcc names and clang 14 knows by their draft names.
static std::string clang_standard(const std::string& value) {
    static const char* const renames[][2] = {
        {"c++23", "c++2b"}, {"gnu++23", "gnu++2b"}, {"c++26", "c++2b"}, {"gnu++26", "gnu++2b"},
        {"c++2c", "c++2b"}, {"gnu++2c", "gnu++2b"}, {"c23", "c2x"},     {"gnu23", "gnu2x"},
        {"iso9899:2024", "c2x"}};
    for (const auto& r : renames)
        if (value == r[0])
            return r[1];
    return value;
}

// The compiler's built-in include directories as clang options, in the
// compiler's order. The compiler's own header directory gives way to
// clang's (its intrinsics and stddef.h use the compiler's builtins); the
// compiler's is searched last, for headers only it has (omp.h, cet.h).
static void add_include_dirs(const CCompilerDefaults& defaults, const std::string& resourceDir,
                             std::vector<std::string>& outR) {
    outR.push_back("-nostdinc");
    bool resourcePlaced = false;
    std::vector<std::string> after;
    for (const std::string& dir : defaults.m_includeDirs) {
        if (!is_compiler_internal_dir(dir)) {
            outR.push_back("-isystem");
            outR.push_back(dir);
            continue;
        }
        if (!resourcePlaced && !resourceDir.empty()) {
            outR.push_back("-isystem");
            outR.push_back(resourceDir + "/include");
            resourcePlaced = true;
        }
        size_t slash = dir.find_last_of('/');
        if (dir.compare(slash + 1, std::string::npos, "include") == 0 &&
            dir.find("/clang/") == std::string::npos)
            after.push_back(dir);
    }
    for (const std::string& dir : after) {
        outR.push_back("-idirafter");
        outR.push_back(dir);
    }
}

std::vector<std::string> clang_arguments(const CCompileCommand& cmd, const std::string& clangPath,
                                         const std::string& resourceDir,
                                         const CCompilerDefaults* defaultsP,
                                         const std::set<std::string>& rejected,
                                         std::vector<std::string>& droppedR) {
    namespace opts = clang::driver::options;
    const llvm::opt::OptTable& table = clang::driver::getDriverOptTable();
    std::vector<const char*> argv;
    for (size_t i = 1; i < cmd.m_arguments.size(); ++i)
        argv.push_back(cmd.m_arguments[i].c_str());
    unsigned missingIndex = 0, missingCount = 0;
    llvm::opt::InputArgList parsed =
        table.ParseArgs(argv, missingIndex, missingCount, 0, opts::CLOption | opts::NoDriverOption);

    std::vector<std::string> out{clangPath, kRevealGuards};
    bool useDefaults = defaultsP && defaultsP->m_known;
    // The driver picks the language by extension alone; the compiler also
    // by its name (g++ compiles a .c file as C++).
    std::string language = parsed.hasArg(opts::OPT_x) ? std::string() : unit_language(cmd);
    // A command may name other inputs: the other sources of a command that
    // compiles several, objects and libraries of one that also links. Only
    // the entry's own file is parsed.
    auto is_own_file = [&](const std::string& input) {
        return input == cmd.m_file || (input[0] == '/' ? input : cmd.m_directory + "/" + input) ==
                                          cmd.m_path;
    };
    bool ownFileNamed = false;
    for (const llvm::opt::Arg* argP : parsed.filtered(opts::OPT_INPUT))
        ownFileNamed = ownFileNamed || is_own_file(argP->getValue());
    if (useDefaults && !parsed.hasArg(opts::OPT_std_EQ, opts::OPT_ansi)) {
        std::string standard = defaultsP->standard();
        if (!standard.empty())
            out.push_back("-std=" + clang_standard(standard));
    }
    if (useDefaults && !parsed.hasArg(opts::OPT_target)) {
        std::string target = target_option(*defaultsP, llvm::sys::getDefaultTargetTriple());
        if (!target.empty())
            out.push_back(target);
    }
    // gcc reads stdc-predef.h before the unit; clang 14 does not.
    if (useDefaults && defaultsP->m_macros.count("_STDC_PREDEF_H")) {
        for (const char* a : {"-Xclang", "-include", "-Xclang", "stdc-predef.h"})
            out.push_back(a);
    }
    bool dropNextXclang = false;
    for (const llvm::opt::Arg* argP : parsed) {
        const llvm::opt::Option& opt = argP->getOption();
        if (!rejected.empty() && (rejected.count(argP->getAsString(parsed)) ||
                                  rejected.count(opt.getPrefixedName())))
            continue;
        switch (opt.getID()) {
        case opts::OPT_UNKNOWN:
            droppedR.push_back(argP->getAsString(parsed));
            continue;
        case opts::OPT_o:
        case opts::OPT_c:
        case opts::OPT_S:
        case opts::OPT_E:
        case opts::OPT_fsyntax_only:
        case opts::OPT_save_temps_EQ:
        case opts::OPT_save_temps:
        case opts::OPT_include_pch:
            continue;
        case opts::OPT_include:
            // Straight to the front end: the driver would take a .gch or
            // .pch beside the header for a precompiled header of its own,
            // and a precompiled header is read from its text instead.
            for (const char* a : {"-Xclang", "-include", "-Xclang", argP->getValue()})
                out.push_back(a);
            continue;
        case opts::OPT_Xclang: {
            std::string value = argP->getValue();
            if (dropNextXclang) {
                dropNextXclang = false;
                continue;
            }
            if (value == "-include-pch" || value == "-include-pth") {
                dropNextXclang = true;
                continue;
            }
            if (value == "-emit-pch" || value == "-emit-pth")
                continue;
            break;
        }
        case opts::OPT_std_EQ:
            out.push_back("-std=" + clang_standard(argP->getValue()));
            continue;
        case opts::OPT_INPUT:
            if (ownFileNamed && !is_own_file(argP->getValue()))
                continue;
            if (!language.empty()) {
                // The driver picks the language by extension alone; the
                // compiler also by its name (g++ compiles a .c file as C++).
                for (const char* a : {"-x", language.c_str(), argP->getValue(), "-x", "none"})
                    out.push_back(a);
                continue;
            }
            break;
        default:
            break;
        }
        if (opt.matches(opts::OPT_M_Group))
            continue;
        llvm::opt::ArgStringList rendered;
        argP->render(parsed, rendered);
        for (const char* s : rendered)
            out.push_back(s);
    }
    if (useDefaults && !defaultsP->m_includeDirs.empty())
        add_include_dirs(*defaultsP, resourceDir, out);
    out.push_back("-fsyntax-only");
    out.push_back("-w");
    out.push_back("-Wno-error");
    out.push_back("-ferror-limit=5");
    out.push_back("-fno-color-diagnostics");
    out.push_back("-fno-caret-diagnostics"); // and no "N errors generated."
    if (!resourceDir.empty())
        out.push_back("-resource-dir=" + resourceDir);
    return out;
}

// The directories that the given options of the recorded command name,
// separate or attached ("-isystem DIR", "-isystemDIR"), made absolute.
static std::vector<std::string> directories_of(const CCompileCommand& cmd,
                                               std::initializer_list<const char*> options) {
    std::vector<std::string> dirs;
    const std::vector<std::string>& args = cmd.m_arguments;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string dir;
        for (const char* optionP : options) {
            size_t n = strlen(optionP);
            if (args[i] == optionP && i + 1 < args.size())
                dir = args[++i];
            else if (args[i].compare(0, n, optionP) == 0 && args[i].size() > n)
                dir = args[i].substr(n);
            if (!dir.empty())
                break;
        }
        if (!dir.empty())
            dirs.push_back(dir[0] == '/' ? dir : cmd.m_directory + "/" + dir);
    }
    return dirs;
}

std::vector<std::string> user_system_directories(const CCompileCommand& cmd) {
    return directories_of(cmd, {"-isystem"});
}

std::vector<std::string> include_directories(const CCompileCommand& cmd) {
    return directories_of(cmd, {"-I", "-isystem", "-iquote", "-idirafter"});
}
