// The front-end run: clang's driver turns the recorded command (cleaned by
// clang_arguments) into a parse-only invocation, and the consumer below
// collects facts once the whole unit, template instantiations included, is
// in the AST. A unit with errors yields no facts: its AST may be partial,
// and partial uses would make live functions look dead.
#include "parse.h"

#include "arguments.h"
#include "spelling.h"

#include <clang/AST/ASTConsumer.h>
#include <clang/AST/ASTContext.h>
#include <clang/Basic/FileManager.h>
#include <clang/Frontend/CompilerInstance.h>
#include <clang/Frontend/FrontendAction.h>
#include <clang/Tooling/Tooling.h>
#include <llvm/Support/VirtualFileSystem.h>

#include <clang/Lex/PPCallbacks.h>
#include <clang/Lex/Preprocessor.h>

#include <cctype>
#include <set>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// Keeps the first error of the unit for the report of failed units. clang's
// full diagnostics go to standard error only with -v: with many workers,
// one line per failed unit reads better.
class CFirstError : public clang::DiagnosticConsumer {
  public:
    explicit CFirstError(bool verbose) : m_verbose(verbose) {}

    void HandleDiagnostic(clang::DiagnosticsEngine::Level level,
                          const clang::Diagnostic& info) override {
        clang::DiagnosticConsumer::HandleDiagnostic(level, info);
        if (level < clang::DiagnosticsEngine::Error)
            return;
        llvm::SmallString<256> message;
        info.FormatDiagnostic(message);
        std::string text;
        if (info.hasSourceManager() && info.getLocation().isValid()) {
            clang::PresumedLoc p = info.getSourceManager().getPresumedLoc(info.getLocation());
            if (p.isValid())
                text = std::string(p.getFilename()) + ":" + std::to_string(p.getLine()) + ":" +
                       std::to_string(p.getColumn()) + ": ";
        }
        else
            add_quoted_options(message.str().str());
        text += message.str().str();
        if (m_verbose)
            fprintf(stderr, "lopwort-facts: error: %s\n", text.c_str());
        if (m_first.empty())
            m_first = text;
    }

    const std::string& first() const { return m_first; }
    // Options that errors without a place quote: clang knows them but
    // refuses them ("invalid value 'auto' in '-flto=auto'").
    const std::set<std::string>& rejected() const { return m_rejected; }

  private:
    void add_quoted_options(const std::string& message) {
        size_t open = message.find('\'');
        while (open != std::string::npos) {
            size_t close = message.find('\'', open + 1);
            if (close == std::string::npos)
                break;
            std::string word = message.substr(open + 1, close - open - 1);
            if (word.size() > 1 && word[0] == '-')
                m_rejected.insert(word);
            open = message.find('\'', close + 1);
        }
    }

    bool m_verbose;
    std::string m_first;
    std::set<std::string> m_rejected;
};

// Gives the project's files the recorded compiler's identity macros
// (__GNUC__ 12, no __clang__ when the build used g++), so that the
// project's "#if" on the compiler goes as in the build, while the
// compiler's and the system's headers keep clang's own, since they hold
// code for each compiler that only that compiler can read.
class CIdentitySwitch : public clang::PPCallbacks {
  public:
    CIdentitySwitch(clang::Preprocessor& pp, const CCompilerDefaults& defaults,
                    const std::string& resourceDir)
        : m_pp(pp), m_defaults(defaults) {
        for (const std::string& dir : defaults.m_includeDirs) {
            std::string real = real_path(dir);
            if (!real.empty())
                m_compilerDirs.push_back(real + "/");
        }
        std::string resource = real_path(resourceDir + "/include");
        if (!resource.empty())
            m_compilerDirs.push_back(resource + "/");
    }

    void FileChanged(clang::SourceLocation loc, FileChangeReason reason,
                     clang::SrcMgr::CharacteristicKind, clang::FileID) override {
        if (reason != EnterFile && reason != ExitFile)
            return;
        clang::SourceManager& sm = m_pp.getSourceManager();
        clang::FileID fid = sm.getFileID(loc);
        if (fid == m_pp.getPredefinesFileID()) {
            m_predefinesSeen = true;
            return;
        }
        const clang::FileEntry* feP = sm.getFileEntryForID(fid);
        if (!feP || !m_predefinesSeen)
            return;
        if (!m_captured)
            capture(loc);
        if (m_names.empty())
            return;
        auto known = m_compilerFile.find(feP->getUID());
        if (known == m_compilerFile.end()) {
            std::string real = feP->tryGetRealPathName().str();
            bool inside = false;
            for (const std::string& dir : m_compilerDirs)
                inside = inside || real.compare(0, dir.size(), dir) == 0;
            known = m_compilerFile.emplace(feP->getUID(), inside).first;
        }
        set_mode(known->second ? EMode::Clang : EMode::Recorded, loc);
    }

  private:
    enum class EMode { Clang, Recorded };

    // clang's predefined values are known once the predefines buffer has
    // run; the recorded compiler's become macro definitions of their own.
    void capture(clang::SourceLocation loc) {
        m_captured = true;
        std::set<std::string> names;
        for (const auto& m : m_defaults.m_macros)
            if (is_identity_macro(m.first))
                names.insert(m.first);
        for (const auto& m : m_pp.macros())
            if (m.first && is_identity_macro(m.first->getName().str()) &&
                m_pp.getMacroInfo(m.first))
                names.insert(m.first->getName().str());
        for (const std::string& name : names) {
            clang::IdentifierInfo* iiP = m_pp.getIdentifierInfo(name);
            clang::MacroInfo* clangP = m_pp.getMacroInfo(iiP);
            auto recorded = m_defaults.m_macros.find(name);
            clang::MacroInfo* recordedP = nullptr;
            if (recorded != m_defaults.m_macros.end())
                recordedP = make_macro(recorded->second, loc);
            if (body_of(clangP) == body_of(recordedP) && !clangP == !recordedP)
                continue;
            m_names.push_back(CName{iiP, clangP, recordedP});
        }
    }

    clang::MacroInfo* make_macro(const std::string& body, clang::SourceLocation loc) {
        clang::MacroInfo* miP = m_pp.AllocateMacroInfo(loc);
        if (!body.empty()) {
            clang::Token tok;
            tok.startToken();
            if (body[0] == '"')
                tok.setKind(clang::tok::string_literal);
            else if (isdigit(static_cast<unsigned char>(body[0])))
                tok.setKind(clang::tok::numeric_constant);
            else
                return miP; // not a value the identity macros take
            m_pp.CreateString(body, tok);
            miP->AddTokenToBody(tok);
        }
        return miP;
    }

    std::string body_of(const clang::MacroInfo* miP) const {
        std::string body;
        if (!miP)
            return body;
        for (const clang::Token& tok : miP->tokens())
            body += (body.empty() ? "" : " ") + m_pp.getSpelling(tok);
        return body;
    }

    void set_mode(EMode mode, clang::SourceLocation loc) {
        if (mode == m_mode)
            return;
        m_mode = mode;
        for (const CName& n : m_names) {
            clang::MacroInfo* wantP = mode == EMode::Clang ? n.m_clang : n.m_recorded;
            if (wantP)
                m_pp.appendDefMacroDirective(n.m_ii, wantP, loc);
            else if (m_pp.getMacroInfo(n.m_ii))
                m_pp.appendMacroDirective(n.m_ii, undefine(loc));
        }
    }

    // The preprocessor's own allocator keeps the directive as long as the
    // macro history that holds it.
    clang::MacroDirective* undefine(clang::SourceLocation loc) {
        void* memory = m_pp.getPreprocessorAllocator().Allocate<clang::UndefMacroDirective>();
        return new (memory) clang::UndefMacroDirective(loc);
    }

    struct CName {
        clang::IdentifierInfo* m_ii;
        clang::MacroInfo* m_clang;    // null when clang does not define it
        clang::MacroInfo* m_recorded; // null when the compiler does not
    };

    clang::Preprocessor& m_pp;
    const CCompilerDefaults& m_defaults;
    std::vector<std::string> m_compilerDirs;
    std::map<unsigned, bool> m_compilerFile;
    std::vector<CName> m_names;
    bool m_predefinesSeen = false;
    bool m_captured = false;
    EMode m_mode = EMode::Clang;
};

class CFactsConsumer : public clang::ASTConsumer {
  public:
    CFactsConsumer(const CUnitContext& unit, CUnitFacts& facts, bool& failed)
        : m_unit(unit), m_facts(facts), m_failed(failed) {}

    void HandleTranslationUnit(clang::ASTContext& ctx) override {
        if (ctx.getDiagnostics().hasErrorOccurred()) {
            m_failed = true;
            return;
        }
        collect_unit_facts(ctx, m_unit, m_facts);
    }

  private:
    const CUnitContext& m_unit;
    CUnitFacts& m_facts;
    bool& m_failed;
};

class CFactsAction : public clang::ASTFrontendAction {
  public:
    CFactsAction(const CUnitContext& unit, const CCompilerDefaults* defaultsP,
                 const std::string& resourceDir, CUnitFacts& facts, bool& failed)
        : m_unit(unit), m_defaultsP(defaultsP), m_resourceDir(resourceDir), m_facts(facts),
          m_failed(failed) {}

  protected:
    std::unique_ptr<clang::ASTConsumer> CreateASTConsumer(clang::CompilerInstance&,
                                                          llvm::StringRef) override {
        return std::make_unique<CFactsConsumer>(m_unit, m_facts, m_failed);
    }

    bool BeginSourceFileAction(clang::CompilerInstance& ci) override {
        if (m_defaultsP && m_defaultsP->m_known)
            ci.getPreprocessor().addPPCallbacks(
                std::make_unique<CIdentitySwitch>(ci.getPreprocessor(), *m_defaultsP, m_resourceDir));
        return true;
    }

    // What a unit that failed could still use: every file it opened and
    // every name it spelled, for --keep-going.
    void EndSourceFileAction() override {
        clang::CompilerInstance& ci = getCompilerInstance();
        if (!ci.getDiagnostics().hasErrorOccurred()) {
            // Every unit is parsed in a process of its own, which ends once
            // the facts are written: like the compiler, leave the syntax
            // tree to the end of the process instead of taking it apart. A
            // unit that fails may be parsed again, so its tree goes.
            ci.getFrontendOpts().DisableFree = true;
            return;
        }
        clang::SourceManager& sm = ci.getSourceManager();
        for (auto it = sm.fileinfo_begin(); it != sm.fileinfo_end(); ++it) {
            std::string real = it->first->tryGetRealPathName().str();
            if (!real.empty())
                m_facts.m_files.insert(real);
        }
        if (ci.hasPreprocessor())
            for (const auto& entry : ci.getPreprocessor().getIdentifierTable())
                m_facts.m_names.insert(entry.getKey().str());
    }

  private:
    const CUnitContext& m_unit;
    const CCompilerDefaults* m_defaultsP;
    const std::string& m_resourceDir;
    CUnitFacts& m_facts;
    bool& m_failed;
};

// Every identifier of a preprocessed text; line markers and literals
// included, since a superset is what a failed unit's uses need.
void add_identifiers(const std::string& text, std::set<std::string>& namesR) {
    size_t i = 0, n = text.size();
    auto word_char = [](char c) {
        return isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
    };
    while (i < n) {
        if (!word_char(text[i])) {
            ++i;
            continue;
        }
        size_t start = i;
        while (i < n && word_char(text[i]))
            ++i;
        if (!isdigit(static_cast<unsigned char>(text[start])))
            namesR.insert(text.substr(start, i - start));
    }
}

} // namespace

bool parse_unit(const CCompileCommand& cmd, const CParseSettings& settings,
                const CCompilerDefaults* defaultsP, const CUnitContext& unit,
                const CPreprocessed& pre, CUnitFacts& factsR, std::string& errorR) {
    if (chdir(cmd.m_directory.c_str()) != 0) {
        errorR = "cannot change to " + cmd.m_directory + ": " + strerror(errno);
        return false;
    }
    // An option that clang refuses is left out and the parse tried again,
    // a few times at most.
    std::set<std::string> rejected;
    bool parsed = false;
    std::string firstError;
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::vector<std::string> dropped;
        std::vector<std::string> args = clang_arguments(
            cmd, settings.m_clangPath, settings.m_resourceDir, defaultsP, rejected, dropped);
        if (settings.m_verbose && attempt == 0) {
            for (const std::string& d : dropped)
                fprintf(stderr, "lopwort-facts: %s: clang does not know %s; left out\n",
                        cmd.m_file.c_str(), d.c_str());
        }
        llvm::IntrusiveRefCntPtr<clang::FileManager> files(new clang::FileManager(
            clang::FileSystemOptions(), llvm::vfs::getRealFileSystem()));
        bool failed = false;
        factsR.m_files.clear();
        factsR.m_names.clear();
        CFirstError errors(settings.m_verbose);
        clang::tooling::ToolInvocation invocation(
            args,
            std::make_unique<CFactsAction>(unit, defaultsP, settings.m_resourceDir, factsR,
                                           failed),
            files.get());
        invocation.setDiagnosticConsumer(&errors);
        parsed = invocation.run() && !failed && errors.getNumErrors() == 0;
        firstError = errors.first();
        size_t before = rejected.size();
        rejected.insert(errors.rejected().begin(), errors.rejected().end());
        if (parsed || rejected.size() == before)
            break;
        if (settings.m_verbose)
            for (const std::string& r : errors.rejected())
                fprintf(stderr, "lopwort-facts: %s: clang refuses %s; left out\n",
                        cmd.m_file.c_str(), r.c_str());
    }

    const std::map<std::string, std::string>& spellings = pre.m_spellings;
    bool ran = pre.m_ran;
    if (!parsed) {
        errorR = firstError.empty() ? "does not parse" : firstError;
        // The driver's messages quote whole command lines.
        if (errorR.size() > 300)
            errorR = errorR.substr(0, 300) + "...";
        for (const auto& s : spellings)
            factsR.m_files.insert(s.first);
        if (ran)
            add_identifiers(pre.m_text, factsR.m_names);
        return false;
    }
    if (!ran)
        factsR.m_warnings.push_back("file names spelled as real paths: " + pre.m_error);
    for (const auto& p : factsR.m_entities) {
        const std::string& file = p.second.m_file;
        if (file.empty() || factsR.m_spellings.count(file))
            continue;
        auto it = spellings.find(file);
        factsR.m_spellings.emplace(file, it != spellings.end() ? it->second : file);
    }
    return true;
}
