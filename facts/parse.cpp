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

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

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
    CFactsAction(const CUnitContext& unit, CUnitFacts& facts, bool& failed)
        : m_unit(unit), m_facts(facts), m_failed(failed) {}

  protected:
    std::unique_ptr<clang::ASTConsumer> CreateASTConsumer(clang::CompilerInstance&,
                                                          llvm::StringRef) override {
        return std::make_unique<CFactsConsumer>(m_unit, m_facts, m_failed);
    }

  private:
    const CUnitContext& m_unit;
    CUnitFacts& m_facts;
    bool& m_failed;
};

} // namespace

bool parse_unit(const CCompileCommand& cmd, const CParseSettings& settings,
                const CUnitContext& unit, const std::string& textPath, CUnitFacts& factsR,
                std::string& errorR) {
    if (chdir(cmd.m_directory.c_str()) != 0) {
        errorR = "cannot change to " + cmd.m_directory + ": " + strerror(errno);
        return false;
    }
    std::vector<std::string> dropped;
    std::vector<std::string> args =
        clang_arguments(cmd, settings.m_clangPath, settings.m_resourceDir, dropped);
    if (settings.m_verbose) {
        for (const std::string& d : dropped)
            fprintf(stderr, "lopwort-facts: %s: clang does not know %s; left out\n",
                    cmd.m_file.c_str(), d.c_str());
    }
    llvm::IntrusiveRefCntPtr<clang::FileManager> files(
        new clang::FileManager(clang::FileSystemOptions(), llvm::vfs::getRealFileSystem()));
    bool failed = false;
    clang::tooling::ToolInvocation invocation(
        args, std::make_unique<CFactsAction>(unit, factsR, failed), files.get());
    if (!invocation.run() || failed) {
        errorR = "does not parse";
        return false;
    }

    std::map<std::string, std::string> spellings;
    std::string text, spellError;
    bool ran = learn_spellings(cmd, spellings, text, spellError);
    if (!ran)
        factsR.m_warnings.push_back("file names spelled as real paths: " + spellError);
    for (const auto& p : factsR.m_entities) {
        const std::string& file = p.second.m_file;
        if (file.empty() || factsR.m_spellings.count(file))
            continue;
        auto it = spellings.find(file);
        factsR.m_spellings.emplace(file, it != spellings.end() ? it->second : file);
    }
    if (ran) {
        FILE* outP = fopen(textPath.c_str(), "wb");
        bool ok = outP && fwrite(text.data(), 1, text.size(), outP) == text.size();
        if (outP && fclose(outP) != 0)
            ok = false;
        if (!ok)
            factsR.m_warnings.push_back("cannot keep the preprocessed text in " + textPath);
    }
    return true;
}
