// Rewriting recorded compile commands. The lopwort filter is mirrored here
// on purpose: the spelling of file names is learned from the very command
// that lopwort will later run, so any difference would make its scanner
// miss the file.
#include "arguments.h"

#include <cstring>

#include <clang/Driver/Options.h>
#include <llvm/Option/Arg.h>
#include <llvm/Option/ArgList.h>
#include <llvm/Option/OptTable.h>
#include <llvm/Option/Option.h>

static bool is_dependency_option(const std::string& a, bool& takesValueR) {
    takesValueR = a == "-MF" || a == "-MT" || a == "-MQ";
    return a == "-M" || a == "-MM" || a == "-MD" || a == "-MMD" || a == "-MP" || a == "-MG" ||
           takesValueR || (a.size() > 3 && (a.compare(0, 3, "-MF") == 0 ||
                                            a.compare(0, 3, "-MT") == 0 ||
                                            a.compare(0, 3, "-MQ") == 0));
}

std::vector<std::string> preprocessor_arguments(const CCompileCommand& cmd) {
    std::vector<std::string> out{cmd.m_compiler, "-E", "-ftabstop=1"};
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

std::vector<std::string> clang_arguments(const CCompileCommand& cmd, const std::string& clangPath,
                                         const std::string& resourceDir,
                                         std::vector<std::string>& droppedR) {
    namespace opts = clang::driver::options;
    const llvm::opt::OptTable& table = clang::driver::getDriverOptTable();
    std::vector<const char*> argv;
    for (size_t i = 1; i < cmd.m_arguments.size(); ++i)
        argv.push_back(cmd.m_arguments[i].c_str());
    unsigned missingIndex = 0, missingCount = 0;
    llvm::opt::InputArgList parsed =
        table.ParseArgs(argv, missingIndex, missingCount, 0, opts::CLOption | opts::NoDriverOption);

    std::vector<std::string> out{clangPath};
    for (const llvm::opt::Arg* argP : parsed) {
        const llvm::opt::Option& opt = argP->getOption();
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
            continue;
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
    out.push_back("-fsyntax-only");
    out.push_back("-w");
    out.push_back("-Wno-error");
    out.push_back("-ferror-limit=5");
    out.push_back("-fno-color-diagnostics");
    if (!resourceDir.empty())
        out.push_back("-resource-dir=" + resourceDir);
    return out;
}

std::vector<std::string> user_system_directories(const CCompileCommand& cmd) {
    std::vector<std::string> dirs;
    const std::vector<std::string>& args = cmd.m_arguments;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string dir;
        if (args[i] == "-isystem" && i + 1 < args.size())
            dir = args[++i];
        else if (args[i].compare(0, 8, "-isystem") == 0 && args[i].size() > 8)
            dir = args[i].substr(8);
        else
            continue;
        dirs.push_back(dir[0] == '/' ? dir : cmd.m_directory + "/" + dir);
    }
    return dirs;
}
