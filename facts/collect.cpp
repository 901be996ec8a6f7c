// Walks the AST of one unit and records the project's functions and what
// uses them. Three rules shape the result, all so that guarding out what
// lopwort finds dead leaves a tree that still compiles and links:
// - Functions defined inside another function (lambdas, members of local
//   classes) are part of that function: lopwort guards whole top-level
//   constructs, so they live and die with it.
// - Compiler-written functions (implicit and defaulted members) and the
//   functions of system headers are not entities; whoever uses them uses
//   what they use, found by walking their bodies once ("closures").
// - A class's virtual table names every function in its slots, so whatever
//   needs the table (constructors, destructors, run-time type uses) keeps
//   all of them through a slots entity ("VS"), besides the table and type
//   information facts that lopwort's own virtual-call resolution follows.
// And what the compiler never runs is no use: names in operands that are
// never evaluated, the slots of classes that nothing builds (dropped at the
// merge), the body of a pure virtual function through a virtual call, and
// a template's text that nothing instantiates, which becomes a function of
// its own.
#include "collect.h"

#include <clang/AST/ASTContext.h>
#include <clang/AST/Attr.h>
#include <clang/AST/DeclCXX.h>
#include <clang/AST/DeclTemplate.h>
#include <clang/AST/ExprCXX.h>
#include <clang/AST/Mangle.h>
#include <clang/AST/RecursiveASTVisitor.h>
#include <clang/AST/StmtCXX.h>
#include <clang/AST/VTableBuilder.h>
#include <clang/Basic/SourceManager.h>
#include <llvm/Support/raw_ostream.h>

#include <climits>
#include <memory>
#include <unordered_map>
#include <unordered_set>

using namespace clang;

namespace {

struct CUse {
    std::string m_verb, m_dst;
    bool operator<(const CUse& o) const {
        return m_verb != o.m_verb ? m_verb < o.m_verb : m_dst < o.m_dst;
    }
};
using CUseSet = std::set<CUse>;

// Where the uses found by a walk go: relations from one entity, or a set
// that becomes a closure.
struct CSink {
    std::string m_srcId;
    CUseSet* m_setP = nullptr;
};

enum EUseKind { Use_call, Use_address, Use_virtual };

// How a function takes part in the facts.
enum EFunctionRole { Role_ignore, Role_entity, Role_transparent, Role_folded };

class CUnitCollector;

class CWalker : public RecursiveASTVisitor<CWalker> {
    using Base = RecursiveASTVisitor<CWalker>;

  public:
    CWalker(CUnitCollector& unit, CSink sink, int inFunction)
        : m_unit(unit), m_sink(std::move(sink)), m_inFunction(inFunction) {}

    bool shouldVisitTemplateInstantiations() const { return true; }
    bool shouldVisitImplicitCode() const { return true; }

    bool TraverseDecl(Decl* declP);

    bool VisitCallExpr(CallExpr* exprP);
    bool VisitDeclRefExpr(DeclRefExpr* exprP);
    bool VisitMemberExpr(MemberExpr* exprP);
    bool VisitCXXConstructExpr(CXXConstructExpr* exprP);
    bool VisitCXXInheritedCtorInitExpr(CXXInheritedCtorInitExpr* exprP);
    bool VisitCXXBindTemporaryExpr(CXXBindTemporaryExpr* exprP);
    bool VisitCXXNewExpr(CXXNewExpr* exprP);
    bool VisitCXXDeleteExpr(CXXDeleteExpr* exprP);
    bool VisitCXXThrowExpr(CXXThrowExpr* exprP);
    bool VisitCXXCatchStmt(CXXCatchStmt* stmtP);
    bool VisitCXXTypeidExpr(CXXTypeidExpr* exprP);
    bool VisitCXXDynamicCastExpr(CXXDynamicCastExpr* exprP);
    bool VisitCXXDefaultInitExpr(CXXDefaultInitExpr* exprP);
    bool VisitLambdaExpr(LambdaExpr* exprP);
    bool VisitVarDecl(VarDecl* declP);
    bool VisitOverloadExpr(OverloadExpr* exprP);
    bool VisitCXXDependentScopeMemberExpr(CXXDependentScopeMemberExpr* exprP);
    bool VisitDependentScopeDeclRefExpr(DependentScopeDeclRefExpr* exprP);
    bool VisitBinaryOperator(BinaryOperator* exprP);
    bool VisitUnaryOperator(UnaryOperator* exprP);

    // Operands that are never evaluated (sizeof, decltype, noexcept, a
    // typeid of a type that is not polymorphic, requires-expressions, the
    // discarded branch of an "if constexpr") need a declaration of what
    // they name, not its definition.
    bool TraverseUnaryExprOrTypeTraitExpr(UnaryExprOrTypeTraitExpr* exprP) {
        bool vla = exprP->getKind() == UETT_SizeOf &&
                   exprP->getTypeOfArgument()->isVariableArrayType();
        return unevaluated(!vla, [&] { return Base::TraverseUnaryExprOrTypeTraitExpr(exprP); });
    }
    bool TraverseDecltypeTypeLoc(DecltypeTypeLoc loc) {
        return unevaluated(true, [&] { return Base::TraverseDecltypeTypeLoc(loc); });
    }
    bool TraverseDecltypeType(DecltypeType* typeP) {
        return unevaluated(true, [&] { return Base::TraverseDecltypeType(typeP); });
    }
    bool TraverseCXXNoexceptExpr(CXXNoexceptExpr* exprP) {
        return unevaluated(true, [&] { return Base::TraverseCXXNoexceptExpr(exprP); });
    }
    bool TraverseCXXTypeidExpr(CXXTypeidExpr* exprP) {
        return unevaluated(!exprP->isPotentiallyEvaluated(),
                           [&] { return Base::TraverseCXXTypeidExpr(exprP); });
    }
    bool TraverseRequiresExpr(RequiresExpr* exprP) {
        return unevaluated(true, [&] { return Base::TraverseRequiresExpr(exprP); });
    }
    bool TraverseIfStmt(IfStmt* stmtP);

    // A use of fdP from here that only needs its declaration is no use.
    bool needs_declaration_only(const FunctionDecl* fdP);

    // Walks a declaration's own parts with this walker's sink, as part of
    // a function (nested declarations fold into it).
    bool traverse_inside(Decl* declP) {
        ++m_inFunction;
        bool ok = Base::TraverseDecl(declP);
        --m_inFunction;
        return ok;
    }

    // A template's text: what it names must stay declared, while what its
    // instances call is found in the instances.
    void names_only() { m_namesOnly = true; }

    CSink& sink() { return m_sink; }

  private:
    CUnitCollector& m_unit;
    CSink m_sink;
    int m_inFunction;
    int m_unevaluated = 0;
    bool m_namesOnly = false;
    std::unordered_set<const Expr*> m_callees;

    template <class F> bool unevaluated(bool really, F traverse) {
        m_unevaluated += really ? 1 : 0;
        bool ok = traverse();
        m_unevaluated -= really ? 1 : 0;
        return ok;
    }
};

class CUnitCollector {
  public:
    CUnitCollector(ASTContext& ctx, const CUnitContext& unit, CUnitFacts& facts)
        : m_ctx(ctx), m_sm(ctx.getSourceManager()), m_unit(unit), m_facts(facts),
          m_mangler(ItaniumMangleContext::create(ctx, ctx.getDiagnostics())) {
        m_ctorRoot = ctor_root_id(unit.m_unitId);
        m_keepRoot = keep_root_id(unit.m_unitId);
        add_root(m_ctorRoot, "global constructors keyed to " + unit.m_unitLabel);
        add_root(m_keepRoot, "global keep-alive of " + unit.m_unitLabel);
    }

    void run() {
        CWalker top(*this, CSink{m_keepRoot, nullptr}, 0);
        top.TraverseDecl(m_ctx.getTranslationUnitDecl());
        // A template whose text nothing here instantiates is a function of
        // its own, dead unless something names it (the merge drops it when
        // another unit instantiates the template).
        for (const auto& p : m_patternDefs)
            if (!m_instances.count(p.first))
                m_patternIds[p.first] = ensure_pattern(p.second);
        // A template's text stays while any function made from it lives, or
        // for good when nothing here instantiates it; what the text names
        // (resolved names, and templates named in constant expressions
        // whose evaluation leaves no trace in the instantiations) must stay
        // declared as long.
        for (const std::string& name : m_probedNames) {
            auto it = m_definedByName.find(name);
            if (it != m_definedByName.end())
                for (const std::string& id : it->second)
                    relate(m_keepRoot, "call", id);
        }
        finish_macros();
        // An alias or an ifunc names its target by its symbol: the target
        // lives while they do, and nothing else records the use.
        for (const auto& p : m_facts.m_entities)
            if (!p.second.m_mangle.empty() && m_symbolTargets.count(p.second.m_mangle))
                relate(m_keepRoot, "call", p.first);
        for (auto& p : m_patternUses) {
            auto made = m_instances.find(p.first);
            if (made == m_instances.end()) {
                auto pattern = m_patternIds.find(p.first);
                const std::string& owner =
                    pattern != m_patternIds.end() ? pattern->second : m_keepRoot;
                for (const CUse& u : p.second)
                    relate(owner, u.m_verb, u.m_dst);
                continue;
            }
            for (const std::string& instance : made->second)
                for (const CUse& u : p.second)
                    relate(instance, u.m_verb, u.m_dst);
        }
    }

    // --- top-level declarations (called by the walker outside functions)

    bool top_function(CWalker& walker, FunctionDecl* fdP) {
        if (!fdP->doesThisDeclarationHaveABody())
            return walker.traverse_inside(fdP); // default arguments, noexcept
        if (fdP->isDependentContext()) {
            const Decl* key = fdP->getCanonicalDecl();
            CWalker inner(*this, CSink{std::string(), &m_patternUses[key]}, 1);
            inner.names_only();
            if (may_stand_alone(fdP))
                m_patternDefs[key] = fdP;
            return inner.traverse_inside(fdP);
        }
        if (role(fdP) != Role_entity) {
            macro_decl(fdP, std::string());
            return true; // compiler-written: walked when something uses it
        }
        std::string id = ensure_function(fdP, true, is_pure_body(fdP));
        if (id.empty())
            return true;
        macro_decl(fdP, id);
        declarations_of(fdP, id);
        CWalker inner(*this, CSink{id, nullptr}, 1);
        inner.traverse_inside(fdP);
        structural_uses(inner.sink(), fdP);
        if (fdP->getTemplateSpecializationKind() == TSK_ExplicitInstantiationDefinition ||
            fdP->hasAttr<ConstructorAttr>() || fdP->hasAttr<DestructorAttr>() ||
            fdP->hasAttr<UsedAttr>() || fdP->hasAttr<RetainAttr>() || fdP->hasAttr<WeakAttr>() ||
            fdP->hasAttr<SectionAttr>() || shares_first_line(source_of(fdP)) ||
            shapes_class(source_of(fdP)))
            relate(m_keepRoot, "call", id);
        if (const IdentifierInfo* nameP = fdP->getDeclName().getAsIdentifierInfo())
            m_definedByName[nameP->getName().str()].push_back(id);
        else if (fdP->isOverloadedOperator())
            m_definedByName[fdP->getDeclName().getAsString()].push_back(id);
        return true;
    }

    // A template's definition that lopwort may report and guard as a
    // function of its own when nothing instantiates it: the project's, with
    // a body written out, not inside a function, not written by a macro,
    // not one that shapes its class, alone on its first line.
    bool may_stand_alone(const FunctionDecl* fdP) {
        return !fdP->isDefaulted() && !fdP->isDeleted() && !fdP->isLateTemplateParsed() &&
               is_project(fdP->getLocation()) && !fold_context(fdP) && !is_lambda_member(fdP) &&
               !fdP->getBeginLoc().isMacroID() && !shapes_class(fdP) && !shares_first_line(fdP) &&
               (fdP->getDescribedFunctionTemplate() || isa<CXXMethodDecl>(fdP));
    }

    std::string ensure_pattern(const FunctionDecl* defP) {
        CFactEntity e;
        e.m_id = "P" + template_suffix(defP);
        e.m_class = defP->isExternallyVisible() ? "GF" : "LF";
        e.m_label = label_of(defP);
        e.m_defined = true;
        e.m_exported = exported(defP);
        if (!place_of(defP, e.m_file, e.m_line, e.m_endLine))
            return m_keepRoot;
        text_start(defP, e.m_textLine, e.m_textColumn);
        m_facts.add_entity(e);
        if (const IdentifierInfo* nameP = defP->getDeclName().getAsIdentifierInfo())
            m_definedByName[nameP->getName().str()].push_back(e.m_id);
        return e.m_id;
    }

    // Constructors, destructors and assignment operators written in the
    // class body decide which members the compiler declares implicitly and
    // what type traits report; guarding one out would change the class.
    static bool shapes_class(const FunctionDecl* fdP) {
        const auto* mdP = dyn_cast<CXXMethodDecl>(fdP);
        if (!mdP || mdP->isOutOfLine())
            return false;
        return isa<CXXConstructorDecl>(mdP) || isa<CXXDestructorDecl>(mdP) ||
               mdP->isCopyAssignmentOperator() || mdP->isMoveAssignmentOperator();
    }

    // What one macro invocation writes at the top level. lopwort can guard
    // a function written by a macro only together with the whole line of
    // the invocation, so the line must hold nothing but function
    // definitions, which then live and die together. id is the entity of a
    // function definition, empty for anything else.
    struct CMacroWork {
        std::vector<std::string> m_functions;
        std::set<const Decl*> m_texts; // the definitions they are made from
        bool m_templates = false;
        bool m_other = false;
    };
    void macro_decl(const Decl* declP, const std::string& id) {
        SourceLocation begin = declP->getBeginLoc();
        if (const auto* fdP = dyn_cast<FunctionDecl>(declP)) {
            const FunctionDecl* textP = source_of(fdP);
            begin = textP->getOuterLocStart();
            if (const FunctionTemplateDecl* templP = textP->getDescribedFunctionTemplate())
                begin = templP->getBeginLoc();
        }
        if (begin.isInvalid() || !begin.isMacroID())
            return;
        CMacroWork& w = m_macroWork[m_sm.getExpansionLoc(begin).getRawEncoding()];
        if (id.empty()) {
            w.m_other = true;
            return;
        }
        const auto* fdP = cast<FunctionDecl>(declP);
        w.m_functions.push_back(id);
        w.m_texts.insert(source_of(fdP)->getCanonicalDecl());
        w.m_templates = w.m_templates || fdP->getTemplateInstantiationPattern() != nullptr;
    }
    void macro_decl_other(const Decl* declP) {
        if (declP->isImplicit() || isa<FunctionTemplateDecl>(declP) ||
            isa<AccessSpecDecl>(declP) || isa<EmptyDecl>(declP) ||
            isa<TranslationUnitDecl>(declP))
            return;
        if (const auto* fdP = dyn_cast<FunctionDecl>(declP))
            if (fdP->doesThisDeclarationHaveABody())
                return; // noted by top_function
        macro_decl(declP, std::string());
    }
    void finish_macros() {
        for (auto& p : m_macroWork) {
            CMacroWork& w = p.second;
            if (w.m_texts.size() < 2 && !w.m_other)
                continue;
            if (w.m_other || w.m_templates) {
                for (const std::string& id : w.m_functions) {
                    relate(m_keepRoot, "call", id);
                    auto it = m_facts.m_entities.find(id);
                    if (it != m_facts.m_entities.end())
                        it->second.m_inMacroLine = true;
                }
                continue;
            }
            // A ring of calls: one reached, all reached.
            for (size_t i = 0; i < w.m_functions.size(); ++i)
                relate(w.m_functions[i], "call", w.m_functions[(i + 1) % w.m_functions.size()]);
        }
    }

    // A function of internal linkage declared before its definition: with
    // the definition guarded out, the declaration left behind is one that
    // compilers warn about ("declared static but never defined"), which
    // -Werror makes a broken build. Each such declaration becomes an entity
    // of its own that lives and dies with the definition, so that lopwort
    // guards it too (or keeps both when it cannot).
    void declarations_of(const FunctionDecl* fdP, const std::string& id) {
        if (fdP->isExternallyVisible() || fdP->getTemplatedKind() != FunctionDecl::TK_NonTemplate ||
            isa<CXXMethodDecl>(fdP))
            return;
        for (const FunctionDecl* rP : fdP->redecls()) {
            if (rP == fdP || rP->doesThisDeclarationHaveABody() || rP->isImplicit() ||
                !rP->getLexicalDeclContext()->isFileContext() || !is_project(rP->getLocation()))
                continue;
            CFactEntity e;
            e.m_class = "LF";
            e.m_label = label_of(fdP) + " (declaration)";
            e.m_defined = true;
            if (!place_of(rP, e.m_file, e.m_line, e.m_endLine))
                continue;
            text_start(rP, e.m_textLine, e.m_textColumn);
            e.m_id = id + "@" + std::to_string(e.m_line);
            m_facts.add_entity(e);
            relate(id, "call", e.m_id);
            relate(e.m_id, "call", id);
            macro_decl(rP, e.m_id);
        }
    }

    // Symbols named by alias, weakref and ifunc attributes.
    void symbol_targets(const Decl* declP) {
        if (const auto* aP = declP->getAttr<AliasAttr>())
            m_symbolTargets.insert(aP->getAliasee().str());
        if (const auto* aP = declP->getAttr<WeakRefAttr>())
            m_symbolTargets.insert(aP->getAliasee().str());
        if (const auto* aP = declP->getAttr<IFuncAttr>())
            m_symbolTargets.insert(aP->getResolver().str());
    }

    // Names that templates look up only when instantiated (members probed
    // by SFINAE, operators and customisation points found by argument
    // dependent lookup): a function of such a name may be chosen, or its
    // mere presence tested, where no use is recorded.
    void probed_name(const DeclarationName& name) {
        if (!name.isEmpty())
            m_probedNames.insert(name.getAsString());
    }
    void probed_name(const std::string& name) { m_probedNames.insert(name); }

    // A declaration that says "override" or "final" needs the function it
    // overrides to stay declared; when that function's only declaration is
    // its definition in the class, it must not be guarded out.
    void overrides_need_base(const CXXMethodDecl* mdP) {
        if (!mdP->hasAttr<OverrideAttr>() && !mdP->hasAttr<FinalAttr>())
            return;
        for (const CXXMethodDecl* baseP : mdP->overridden_methods()) {
            const FunctionDecl* defP = baseP->getDefinition();
            if (!defP || defP->isOutOfLine() || role(baseP) != Role_entity)
                continue;
            CSink root{m_keepRoot, nullptr};
            use_function(root, baseP, Use_call);
        }
    }

    bool top_variable(CWalker& walker, VarDecl* vdP) {
        if (vdP->isLocalVarDeclOrParm())
            return walker.traverse_inside(vdP);
        if (vdP->getDeclContext()->isDependentContext() || vdP->isTemplated()) {
            CWalker inner(*this, CSink{m_keepRoot, nullptr}, 1);
            return inner.traverse_inside(vdP);
        }
        std::string id = ensure_variable(vdP);
        bool definition = vdP->isThisDeclarationADefinition() == VarDecl::Definition;
        if (id.empty() || !vdP->getInit()) {
            CWalker inner(*this, CSink{m_keepRoot, nullptr}, 1);
            inner.traverse_inside(vdP);
        } else {
            bool dynamic = m_ctx.getLangOpts().CPlusPlus && !vdP->hasConstantInitialization();
            CWalker inner(*this, CSink{dynamic ? m_ctorRoot : id, nullptr}, 1);
            inner.traverse_inside(vdP);
            // lopwort guards functions, never variables: whatever an
            // initialiser names (a table of functions whose readers are
            // all dead, say) must stay as long as its text does.
            if (!dynamic)
                relate(m_keepRoot, "ref", id);
        }
        if (definition && vdP->needsDestruction(m_ctx)) {
            CSink root{m_ctorRoot, nullptr};
            use_destructor(root, vdP->getType());
        }
        return true;
    }

    void top_record(CXXRecordDecl* rdP) {
        if (!rdP->isThisDeclarationADefinition() || rdP->isDependentContext() ||
            rdP->isLambda() || rdP->isInvalidDecl())
            return;
        if (rdP->isDynamicClass() && !is_local(rdP))
            ensure_class(rdP);
    }

    bool is_project(SourceLocation loc) {
        if (loc.isInvalid())
            return false;
        SourceLocation exp = m_sm.getExpansionLoc(loc);
        FileID fid = m_sm.getFileID(exp);
        auto it = m_projectFiles.find(fid);
        if (it != m_projectFiles.end())
            return it->second;
        bool project = false;
        if (const FileEntry* feP = m_sm.getFileEntryForID(fid)) {
            if (!m_sm.isInSystemHeader(exp)) {
                project = true;
            } else {
                std::string real = real_name(feP);
                for (const std::string& dir : m_unit.m_projectSystemDirs)
                    if (under(real, dir))
                        project = true;
            }
        }
        m_projectFiles.emplace(fid, project);
        return project;
    }

    ASTContext& context() { return m_ctx; }

    // Whether a use that is never run can do without fdP's definition:
    // unless it is evaluated while compiling (constexpr, a deduced return
    // type), the use needs only a declaration, and one must stay when the
    // definition is guarded out (a member's in-class declaration, or a
    // prototype of an external function; a static function's prototypes
    // are guarded with it). Functions that are not entities are no use.
    bool declaration_suffices(const FunctionDecl* fdP) {
        if (fdP->isConstexpr())
            return false;
        for (const FunctionDecl* redeclP : fdP->redecls())
            if (!redeclP->getDeclaredReturnType().isNull() &&
                redeclP->getDeclaredReturnType()->getContainedDeducedType())
                return false;
        if (const FunctionDecl* patternP = fdP->getTemplateInstantiationPattern())
            fdP = patternP; // the template's own declarations are what stays
        else if (role(fdP) != Role_entity)
            return true;
        if (!is_project(fdP->getLocation()))
            return true;
        const FunctionDecl* defP = fdP->getDefinition();
        if (!defP)
            return true;
        for (const FunctionDecl* redeclP : fdP->redecls()) {
            if (redeclP == defP || redeclP->isThisDeclarationADefinition())
                continue;
            const auto* mdP = dyn_cast<CXXMethodDecl>(redeclP);
            if ((mdP && !mdP->isOutOfLine()) || fdP->isExternallyVisible())
                return true;
        }
        return false;
    }

    // A class whose objects are made here: its virtual functions can run.
    void note_built(const CXXConstructorDecl* ctorP) {
        if (!ctorP)
            return;
        const CXXRecordDecl* rdP = ctorP->getParent();
        if (!rdP || !(rdP = rdP->getDefinition()) || rdP->isDependentContext() ||
            !rdP->isDynamicClass() || rdP->isInvalidDecl() || is_local(rdP))
            return;
        std::string slots = ensure_class(rdP);
        if (!slots.empty())
            m_facts.m_built.insert(slots);
    }

    // --- uses

    void use_function(CSink& sink, const FunctionDecl* fdP, EUseKind kind) {
        if (!fdP)
            return;
        switch (role(fdP)) {
        case Role_ignore:
            return;
        case Role_folded:
            use_fold_owner(sink, fdP);
            return;
        case Role_transparent:
            for (const CUse& u : closure(fdP))
                emit(sink, u.m_verb, u.m_dst);
            return;
        case Role_entity:
            break;
        }
        // A specialization that nothing here defines needs its template's
        // text, which is a function of its own while nothing instantiates it.
        if (!fdP->isDefined())
            if (const FunctionDecl* patternP = fdP->getTemplateInstantiationPattern())
                emit(sink, "call", "P" + template_suffix(patternP));
        std::string id = ensure_function(fdP, false, kind == Use_call && is_pure_body(fdP));
        if (id.empty())
            return;
        if (kind == Use_address) {
            emit(sink, "ref", ensure_address(id, fdP));
            const auto* mdP = dyn_cast<CXXMethodDecl>(fdP);
            if (mdP && mdP->isVirtual())
                emit(sink, "CVF", id);
        } else {
            emit(sink, kind == Use_virtual ? "CVF" : "call", id);
        }
    }

    // A name in a template that stays unresolved until instantiation: every
    // function made here from the templates it may name is kept, since the
    // text of those templates must stay while the name does.
    void use_unresolved(CSink& sink, const OverloadExpr* exprP) {
        for (const NamedDecl* declP : exprP->decls()) {
            declP = declP->getUnderlyingDecl();
            if (const auto* templP = dyn_cast<FunctionTemplateDecl>(declP)) {
                for (const FunctionDecl* specP : templP->specializations())
                    if (specP->isDefined())
                        use_function(sink, specP, Use_call);
                if (const FunctionDecl* patternP = templP->getTemplatedDecl())
                    if (patternP->isDefined() && is_project(patternP->getLocation()))
                        emit(sink, "call", "P" + template_suffix(patternP));
            } else if (const auto* fdP = dyn_cast<FunctionDecl>(declP)) {
                if (!fdP->isDependentContext())
                    use_function(sink, fdP, Use_call);
            }
        }
    }

    void use_variable(CSink& sink, const VarDecl* vdP) {
        if (!vdP || vdP->isLocalVarDeclOrParm() || !vdP->hasGlobalStorage() ||
            vdP->isTemplated() || vdP->getDeclContext()->isDependentContext())
            return;
        std::string id = ensure_variable(vdP);
        if (!id.empty())
            emit(sink, "ref", id);
    }

    void use_destructor(CSink& sink, QualType type) {
        if (type.isNull() || type->isDependentType())
            return;
        type = m_ctx.getBaseElementType(type);
        const CXXRecordDecl* rdP = type->getAsCXXRecordDecl();
        if (!rdP || !(rdP = rdP->getDefinition()) || rdP->hasTrivialDestructor())
            return;
        if (const CXXDestructorDecl* dtorP = rdP->getDestructor())
            use_function(sink, dtorP, Use_call);
        else
            destructor_parts(sink, rdP);
    }

    // Whatever needs a class's virtual table or type information.
    void use_table(CSink& sink, QualType type) {
        if (type.isNull() || type->isDependentType())
            return;
        if (const auto* refP = type->getAs<ReferenceType>())
            type = refP->getPointeeType();
        if (const auto* ptrP = type->getAs<PointerType>())
            type = ptrP->getPointeeType();
        if (const CXXRecordDecl* rdP = type->getAsCXXRecordDecl())
            use_class_table(sink, rdP);
    }

    void use_class_table(CSink& sink, const CXXRecordDecl* rdP) {
        if (!rdP || !(rdP = rdP->getDefinition()) || rdP->isDependentContext() ||
            !rdP->isDynamicClass() || rdP->isInvalidDecl() || is_local(rdP))
            return;
        std::string slots = ensure_class(rdP);
        if (!slots.empty()) {
            emit(sink, "ref", slots);
            return;
        }
        for (const CUse& u : system_table_closure(rdP))
            emit(sink, u.m_verb, u.m_dst);
    }

    void emit(CSink& sink, const std::string& verb, const std::string& dst) {
        if (sink.m_setP)
            sink.m_setP->insert(CUse{verb, dst});
        else if (!sink.m_srcId.empty() && sink.m_srcId != dst)
            m_facts.add_relation(verb, sink.m_srcId, dst);
    }

  private:
    // --- roles of functions

    EFunctionRole role(const FunctionDecl* fdP) {
        if (fdP->getBuiltinID() != 0 || fdP->isDeleted() || fdP->isInvalidDecl())
            return Role_ignore;
        if (fold_context(fdP) != nullptr || is_lambda_member(fdP))
            return Role_folded;
        if (fdP->isDependentContext())
            return Role_ignore;
        const FunctionDecl* defP = fdP->getDefinition();
        const FunctionDecl* homeP = defP ? defP : fdP;
        if (homeP->isImplicit() || (homeP->isExplicitlyDefaulted() && !homeP->isOutOfLine()))
            return Role_transparent;
        if (!is_project(source_of(homeP)->getLocation()))
            return Role_transparent;
        return Role_entity;
    }

    // lopwort guards the first construct that holds a dead function's line.
    // When another declaration ends on the line where a function starts,
    // that construct is the other one, so such a function is kept.
    bool shares_first_line(const FunctionDecl* fdP) {
        const Decl* selfP = fdP;
        if (const FunctionTemplateDecl* templP = fdP->getDescribedFunctionTemplate())
            selfP = templP;
        const Decl* prevP = previous_sibling(selfP);
        if (!prevP)
            return false;
        SourceLocation begin = m_sm.getExpansionLoc(selfP->getBeginLoc());
        SourceLocation prevEnd = m_sm.getExpansionRange(prevP->getEndLoc()).getEnd();
        // Written by the same macro invocation: macro_decl decides.
        if (selfP->getBeginLoc().isMacroID() && prevP->getBeginLoc().isMacroID() &&
            m_sm.getExpansionLoc(prevP->getBeginLoc()) == begin)
            return false;
        if (begin.isInvalid() || prevEnd.isInvalid() ||
            m_sm.getFileID(begin) != m_sm.getFileID(prevEnd))
            return false;
        return m_sm.getExpansionLineNumber(begin) == m_sm.getExpansionLineNumber(prevEnd);
    }

    const Decl* previous_sibling(const Decl* declP) {
        const DeclContext* dcP = declP->getLexicalDeclContext();
        if (!dcP)
            return nullptr;
        if (m_siblingsDone.insert(dcP).second) {
            const Decl* prevP = nullptr;
            for (const Decl* d : dcP->decls()) {
                if (d->isImplicit() || isa<AccessSpecDecl>(d))
                    continue;
                if (prevP)
                    m_previousSibling[d] = prevP;
                prevP = d;
            }
        }
        auto it = m_previousSibling.find(declP);
        return it != m_previousSibling.end() ? it->second : nullptr;
    }

    static bool is_lambda_member(const FunctionDecl* fdP) {
        const auto* mdP = dyn_cast<CXXMethodDecl>(fdP);
        return mdP && mdP->getParent()->isLambda();
    }

    // The outermost function that lexically encloses a declaration, if any.
    static const FunctionDecl* fold_context(const Decl* declP) {
        const FunctionDecl* ownerP = nullptr;
        for (const DeclContext* dcP = declP->getLexicalDeclContext(); dcP;
             dcP = dcP->getLexicalParent())
            if (const auto* fP = dyn_cast<FunctionDecl>(dcP))
                ownerP = fP;
        return ownerP;
    }

    static bool is_local(const CXXRecordDecl* rdP) { return fold_context(rdP) != nullptr; }

    void use_fold_owner(CSink& sink, const FunctionDecl* fdP) {
        if (const FunctionDecl* ownerP = fold_context(fdP)) {
            if (ownerP->isDependentContext())
                return;
            use_function(sink, ownerP, Use_call);
            return;
        }
        // A lambda outside any function: in a variable's initialiser it
        // belongs to the variable; elsewhere (default arguments, member
        // initialisers) its body was credited to the keep-alive root.
        const auto* mdP = dyn_cast<CXXMethodDecl>(fdP);
        if (!mdP)
            return;
        if (const auto* vdP = dyn_cast_or_null<VarDecl>(mdP->getParent()->getLambdaContextDecl()))
            use_variable(sink, vdP);
    }

    // A pure virtual function other than a destructor, outside templates:
    // its body runs only when called by its qualified name. (A pure
    // destructor's body runs in every derived destructor.)
    static bool is_pure_body(const FunctionDecl* fdP) {
        const auto* mdP = dyn_cast<CXXMethodDecl>(fdP->getCanonicalDecl());
        return mdP && mdP->isPure() && !isa<CXXDestructorDecl>(mdP) &&
               !mdP->getParent()->isTemplated() && !fdP->getTemplateInstantiationPattern();
    }

    // The declaration whose text a function comes from: the template
    // pattern for an instantiation.
    static const FunctionDecl* source_of(const FunctionDecl* fdP) {
        if (const FunctionDecl* patternP = fdP->getTemplateInstantiationPattern()) {
            if (const FunctionDecl* defP = patternP->getDefinition())
                return defP;
            return patternP;
        }
        return fdP;
    }

    // --- closures of compiler-written and system functions

    const CUseSet& closure(const FunctionDecl* fdP) {
        const Decl* key = fdP->getCanonicalDecl();
        CClosure& c = m_closures[key];
        if (c.m_state == 2) {
            if (c.m_pendingLow != INT_MAX)
                m_lowHit = std::min(m_lowHit, c.m_pendingLow);
            return c.m_uses;
        }
        if (c.m_state == 1) {
            m_lowHit = std::min(m_lowHit, c.m_depth);
            return c.m_uses;
        }
        c.m_state = 1;
        c.m_depth = static_cast<int>(m_closureDepth++);
        int savedLow = m_lowHit;
        m_lowHit = INT_MAX;

        CWalker walker(*this, CSink{std::string(), &c.m_uses}, 1);
        const FunctionDecl* defP = fdP->getDefinition();
        if (defP && defP->doesThisDeclarationHaveABody())
            walker.traverse_inside(const_cast<FunctionDecl*>(defP));
        structural_uses(walker.sink(), defP ? defP : fdP);

        --m_closureDepth;
        int low = m_lowHit;
        c.m_state = 2;
        if (low < c.m_depth) {
            // Part of a cycle through a function still being walked: its
            // set is not complete until that function's is.
            c.m_pendingLow = low;
            std::vector<const Decl*>& mine = m_pending[c.m_depth];
            std::vector<const Decl*>& target = m_pending[low];
            target.insert(target.end(), mine.begin(), mine.end());
            target.push_back(key);
            m_pending.erase(c.m_depth);
            for (const Decl* d : m_pending[low])
                m_closures[d].m_pendingLow = low;
        } else {
            auto it = m_pending.find(c.m_depth);
            if (it != m_pending.end()) {
                for (const Decl* d : it->second) {
                    CClosure& member = m_closures[d];
                    member.m_uses.insert(c.m_uses.begin(), c.m_uses.end());
                    member.m_pendingLow = INT_MAX;
                }
                m_pending.erase(it);
            }
        }
        m_lowHit = std::min(savedLow, low);
        return c.m_uses;
    }

    // What a system class's table keeps alive: its slots and its bases'.
    const CUseSet& system_table_closure(const CXXRecordDecl* rdP) {
        auto it = m_systemTables.find(rdP);
        if (it != m_systemTables.end())
            return it->second;
        CUseSet& uses = m_systemTables[rdP];
        CUseSet collected;
        CSink sink{std::string(), &collected};
        for (const CXXMethodDecl* mdP : slot_functions(rdP))
            use_function(sink, mdP, Use_call);
        for (const CXXBaseSpecifier& base : rdP->bases())
            use_class_table(sink, base.getType()->getAsCXXRecordDecl());
        uses.swap(collected);
        return uses;
    }

    // Uses that no statement shows: a constructor and a destructor need the
    // class's table and the destructors of its parts (a constructor for
    // unwinding), a virtual destructor its operator delete.
    void structural_uses(CSink& sink, const FunctionDecl* fdP) {
        if (const auto* ctorP = dyn_cast<CXXConstructorDecl>(fdP)) {
            const CXXRecordDecl* rdP = ctorP->getParent();
            use_class_table(sink, rdP);
            destructor_parts(sink, rdP);
        } else if (const auto* dtorP = dyn_cast<CXXDestructorDecl>(fdP)) {
            const CXXRecordDecl* rdP = dtorP->getParent();
            use_class_table(sink, rdP);
            destructor_parts(sink, rdP);
            if (dtorP->isVirtual())
                use_function(sink, dtorP->getOperatorDelete(), Use_call);
        }
    }

    void destructor_parts(CSink& sink, const CXXRecordDecl* rdP) {
        if (!rdP->hasDefinition() || rdP->isDependentContext())
            return;
        for (const FieldDecl* fieldP : rdP->fields())
            use_destructor(sink, fieldP->getType());
        for (const CXXBaseSpecifier& base : rdP->bases())
            use_destructor(sink, base.getType());
        for (const CXXBaseSpecifier& base : rdP->vbases())
            use_destructor(sink, base.getType());
    }

    std::vector<const CXXMethodDecl*> slot_functions(const CXXRecordDecl* rdP) {
        std::vector<const CXXMethodDecl*> out;
        auto* vtcP = dyn_cast<ItaniumVTableContext>(m_ctx.getVTableContext());
        if (!vtcP)
            return out;
        std::unordered_set<const Decl*> seen;
        for (const VTableComponent& comp : vtcP->getVTableLayout(rdP).vtable_components()) {
            const CXXMethodDecl* mdP = nullptr;
            switch (comp.getKind()) {
            case VTableComponent::CK_FunctionPointer:
                mdP = comp.getFunctionDecl();
                break;
            case VTableComponent::CK_CompleteDtorPointer:
            case VTableComponent::CK_DeletingDtorPointer:
                mdP = comp.getDestructorDecl();
                break;
            default:
                break;
            }
            if (mdP && !mdP->isPure() && seen.insert(mdP->getCanonicalDecl()).second)
                out.push_back(mdP);
        }
        return out;
    }

    // --- entities

    void add_root(const std::string& id, const std::string& label) {
        CFactEntity e;
        e.m_id = id;
        e.m_class = "LF";
        e.m_label = label;
        e.m_file = m_unit.m_mainFile;
        e.m_defined = true;
        m_facts.add_entity(e);
    }

    void relate(const std::string& src, const std::string& verb, const std::string& dst) {
        if (src != dst)
            m_facts.add_relation(verb, src, dst);
    }

    std::string mangled(GlobalDecl gd) {
        std::string out;
        llvm::raw_string_ostream os(out);
        const auto* ndP = cast<NamedDecl>(gd.getDecl());
        if (m_mangler->shouldMangleDeclName(ndP))
            m_mangler->mangleName(gd, os);
        else
            os << ndP->getName();
        os.flush();
        if (!out.empty() && out[0] == '\01')
            out.erase(0, 1);
        return out;
    }

    std::string label_of(const NamedDecl* ndP) {
        std::string out;
        llvm::raw_string_ostream os(out);
        ndP->getNameForDiagnostic(os, m_ctx.getPrintingPolicy(), true);
        os.flush();
        return out;
    }

    // Real path, line and last line of a declaration's text.
    bool place_of(const Decl* declP, std::string& fileR, int& lineR, int& endLineR) {
        SourceLocation begin = m_sm.getExpansionLoc(declP->getBeginLoc());
        SourceLocation end = m_sm.getExpansionRange(declP->getEndLoc()).getEnd();
        const FileEntry* feP = m_sm.getFileEntryForID(m_sm.getFileID(begin));
        if (!feP)
            return false;
        fileR = real_name(feP);
        lineR = static_cast<int>(m_sm.getExpansionLineNumber(begin));
        endLineR = end.isValid() ? static_cast<int>(m_sm.getExpansionLineNumber(end)) : lineR;
        if (endLineR < lineR)
            endLineR = lineR;
        return !fileR.empty();
    }

    // The line where a definition's text begins (its template header
    // included), and its column when it begins the line.
    void text_start(const FunctionDecl* fdP, int& lineR, int& columnR) {
        SourceLocation start = m_sm.getExpansionLoc(fdP->getOuterLocStart());
        if (const FunctionTemplateDecl* templP = fdP->getDescribedFunctionTemplate()) {
            SourceLocation t = m_sm.getExpansionLoc(templP->getBeginLoc());
            if (t.isValid() && m_sm.isBeforeInTranslationUnit(t, start))
                start = t;
        }
        // extern "C" without braces belongs to the one declaration.
        if (const auto* lsP = dyn_cast<LinkageSpecDecl>(fdP->getLexicalDeclContext())) {
            SourceLocation l = m_sm.getExpansionLoc(lsP->getBeginLoc());
            if (!lsP->hasBraces() && l.isValid() && m_sm.isBeforeInTranslationUnit(l, start))
                start = l;
        }
        if (const FunctionTemplateDecl* templP = fdP->getDescribedFunctionTemplate())
            if (const auto* lsP = dyn_cast<LinkageSpecDecl>(templP->getLexicalDeclContext()))
                if (!lsP->hasBraces())
                    start = m_sm.getExpansionLoc(lsP->getBeginLoc());
        lineR = columnR = 0;
        if (start.isInvalid())
            return;
        // Attributes in brackets or __declspec before the declaration are
        // outside its range, yet part of its text: they go with it.
        bool attribute = false;
        for (const Attr* aP : fdP->attrs()) {
            if (aP->isInherited() || aP->isImplicit())
                continue;
            SourceLocation a = m_sm.getExpansionLoc(aP->getRange().getBegin());
            if (a.isValid() && m_sm.getFileID(a) == m_sm.getFileID(start) &&
                m_sm.isBeforeInTranslationUnit(a, start)) {
                start = a;
                attribute = true;
            }
        }
        std::pair<FileID, unsigned> at = m_sm.getDecomposedLoc(start);
        bool invalid = false;
        llvm::StringRef buffer = m_sm.getBufferData(at.first, &invalid);
        if (invalid || at.second > buffer.size())
            return;
        size_t offset = at.second;
        if (attribute)
            offset = attribute_opening(buffer, offset);
        lineR = static_cast<int>(m_sm.getLineNumber(at.first, static_cast<unsigned>(offset)));
        if (begins_line(buffer, offset))
            columnR =
                static_cast<int>(m_sm.getColumnNumber(at.first, static_cast<unsigned>(offset)));
    }

    // Back from an attribute's name to the "[[", "__attribute__((",
    // "__declspec(" or "alignas(" that opens it.
    static size_t attribute_opening(llvm::StringRef buffer, size_t offset) {
        for (;;) {
            size_t i = offset;
            while (i > 0 && isspace(static_cast<unsigned char>(buffer[i - 1])))
                --i;
            if (i >= 2 && buffer.substr(i - 2, 2) == "[[") {
                offset = i - 2;
                continue;
            }
            size_t open = i;
            while (open > 0 && buffer[open - 1] == '(' && i - open < 2)
                --open;
            if (open == i)
                return offset;
            size_t word = open;
            while (word > 0 && isspace(static_cast<unsigned char>(buffer[word - 1])))
                --word;
            bool found = false;
            for (const char* kwP : {"__attribute__", "__attribute", "__declspec", "alignas"}) {
                size_t n = strlen(kwP);
                if (word >= n && buffer.substr(word - n, n) == kwP) {
                    offset = word - n;
                    found = true;
                    break;
                }
            }
            if (!found)
                return offset;
        }
    }

    // Whether only blanks, block comments and words stand before offset on
    // its line: the declaration's text then begins the line, since a word
    // before its first token can only be a macro that expands to nothing.
    static bool begins_line(llvm::StringRef buffer, size_t i) {
        auto word = [](char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; };
        for (;;) {
            while (i > 0 && (buffer[i - 1] == ' ' || buffer[i - 1] == '\t' || word(buffer[i - 1])))
                --i;
            if (i == 0 || buffer[i - 1] == '\n')
                return true;
            if (i < 2 || buffer.substr(i - 2, 2) != "*/")
                return false;
            size_t open = buffer.substr(0, i - 2).rfind("/*");
            if (open == llvm::StringRef::npos)
                return false;
            if (buffer.substr(open, i - open).contains('\n'))
                return true; // the line begins inside the comment
            i = open;
        }
    }

    std::string real_name(const FileEntry* feP) {
        auto it = m_realNames.find(feP);
        if (it != m_realNames.end())
            return it->second;
        std::string real = feP->tryGetRealPathName().str();
        if (real.empty())
            real = feP->getName().str();
        m_realNames.emplace(feP, real);
        return real;
    }

    static bool under(const std::string& path, const std::string& dir) {
        return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
               path[dir.size()] == '/';
    }

    bool exported(const FunctionDecl* fdP) {
        if (m_unit.m_exportedDirs.empty())
            return false;
        for (const FunctionDecl* redeclP : fdP->redecls()) {
            SourceLocation loc = m_sm.getExpansionLoc(redeclP->getLocation());
            const FileEntry* feP = m_sm.getFileEntryForID(m_sm.getFileID(loc));
            if (!feP)
                continue;
            std::string real = real_name(feP);
            if (real == m_unit.m_mainFile)
                continue;
            for (const std::string& dir : m_unit.m_exportedDirs)
                if (under(real, dir))
                    return true;
        }
        return false;
    }

    bool class_exported(const CXXRecordDecl* rdP) {
        if (m_unit.m_exportedDirs.empty())
            return false;
        SourceLocation loc = m_sm.getExpansionLoc(rdP->getLocation());
        const FileEntry* feP = m_sm.getFileEntryForID(m_sm.getFileID(loc));
        if (!feP)
            return false;
        std::string real = real_name(feP);
        for (const std::string& dir : m_unit.m_exportedDirs)
            if (under(real, dir))
                return true;
        return false;
    }

    static GlobalDecl global_decl(const FunctionDecl* fdP) {
        if (const auto* ctorP = dyn_cast<CXXConstructorDecl>(fdP))
            return GlobalDecl(ctorP, Ctor_Complete);
        if (const auto* dtorP = dyn_cast<CXXDestructorDecl>(fdP))
            return GlobalDecl(dtorP, Dtor_Complete);
        return GlobalDecl(fdP);
    }

    // The id of a function entity, recorded on first sight; a definition
    // upgrades the record with its place.
    //
    // A pure virtual function with a body is two entities: the virtual
    // function, which virtual calls name and which has no body of its own
    // (its slot calls no body), and the body ("body:" and the mangled
    // name), which only qualified calls run (pureBody).
    std::string ensure_function(const FunctionDecl* fdP, bool defined, bool pureBody = false) {
        const Decl* key = fdP->getCanonicalDecl();
        std::unordered_map<const Decl*, std::string>& ids = pureBody ? m_bodyIds : m_functionIds;
        std::unordered_set<const Decl*>& definedSet = pureBody ? m_definedBodies : m_definedFunctions;
        auto it = ids.find(key);
        if (it != ids.end() && (!defined || definedSet.count(key)))
            return it->second;
        if (fdP->isDependentContext() || fdP->getDescribedFunctionTemplate())
            return std::string();
        if (!pureBody && is_pure_body(fdP))
            defined = false;
        CFactEntity e;
        e.m_mangle = mangled(global_decl(fdP));
        if (e.m_mangle.empty())
            return std::string();
        e.m_id = std::string(pureBody ? "body:" : "") +
                 (fdP->isExternallyVisible() ? e.m_mangle : m_unit.m_unitId + "::" + e.m_mangle);
        const auto* mdP = dyn_cast<CXXMethodDecl>(fdP);
        e.m_class = mdP && mdP->isVirtual() && !pureBody ? "VF"
                    : fdP->isExternallyVisible()         ? "GF"
                                                         : "LF";
        e.m_label = label_of(fdP);
        e.m_defined = defined;
        e.m_exported = e.m_class != "LF" && exported(fdP);
        const FunctionDecl* textP = source_of(defined ? fdP : fdP->getCanonicalDecl());
        if (!place_of(textP, e.m_file, e.m_line, e.m_endLine) && defined)
            return std::string();
        if (!defined)
            e.m_endLine = 0;
        else
            text_start(textP, e.m_textLine, e.m_textColumn);
        if (defined) {
            definedSet.insert(key);
            if (const FunctionDecl* patternP = fdP->getTemplateInstantiationPattern()) {
                m_instances[patternP->getCanonicalDecl()].push_back(e.m_id);
                e.m_templateKey = template_entity(patternP, e.m_id);
            }
        }
        m_facts.add_entity(e);
        ids[key] = e.m_id;
        if (e.m_class == "VF")
            ensure_address(e.m_id, fdP);
        return e.m_id;
    }

    std::string ensure_address(const std::string& id, const FunctionDecl* fdP) {
        std::string fa = "FA:" + id;
        if (m_facts.m_entities.count(fa))
            return fa;
        CFactEntity e;
        e.m_id = fa;
        e.m_class = "FA";
        e.m_label = "&" + label_of(fdP);
        m_facts.add_entity(e);
        relate(id, "contain", fa);
        return fa;
    }

    // ":FILE:LINE:COLUMN:NAME" of a template's text, the same in every unit
    // that includes it: "T" before it names the template of instances,
    // "P" its text as a function when nothing instantiates it.
    std::string template_suffix(const FunctionDecl* patternP) {
        const FunctionDecl* textP = patternP->getDefinition() ? patternP->getDefinition() : patternP;
        SourceLocation loc = m_sm.getExpansionLoc(textP->getLocation());
        const FileEntry* feP = m_sm.getFileEntryForID(m_sm.getFileID(loc));
        return ":" + (feP ? real_name(feP) : std::string()) + ":" +
               std::to_string(m_sm.getExpansionLineNumber(loc)) + ":" +
               std::to_string(m_sm.getExpansionColumnNumber(loc)) + ":" +
               patternP->getNameAsString();
    }

    std::string template_entity(const FunctionDecl* patternP, const std::string& instanceId) {
        std::string name = patternP->getQualifiedNameAsString();
        std::string id = "T" + template_suffix(patternP);
        if (!m_facts.m_entities.count(id)) {
            CFactEntity e;
            e.m_id = id;
            e.m_class = "T";
            e.m_label = name;
            m_facts.add_entity(e);
        }
        relate(id, "ref", instanceId);
        return id;
    }

    std::string ensure_variable(const VarDecl* vdP) {
        const Decl* key = vdP->getCanonicalDecl();
        auto it = m_variableIds.find(key);
        if (it != m_variableIds.end())
            return it->second;
        std::string id;
        const VarDecl* homeP = vdP->getDefinition() ? vdP->getDefinition() : vdP;
        if (is_project(homeP->getLocation()) && !vdP->isInvalidDecl()) {
            CFactEntity e;
            e.m_mangle = mangled(GlobalDecl(vdP));
            e.m_id = vdP->isExternallyVisible() ? e.m_mangle : m_unit.m_unitId + "::" + e.m_mangle;
            e.m_class = "V";
            e.m_label = label_of(vdP);
            m_facts.add_entity(e);
            id = e.m_id;
        }
        m_variableIds[key] = id;
        return id;
    }

    // The table, type information and slots entities of a project class;
    // returns the slots entity's id, or an empty text for other classes.
    std::string ensure_class(const CXXRecordDecl* rdP) {
        rdP = rdP->getDefinition();
        auto it = m_classSlots.find(rdP);
        if (it != m_classSlots.end())
            return it->second;
        m_classSlots[rdP] = std::string();
        if (!is_project(rdP->getLocation()))
            return std::string();

        std::string tvMangle, tiMangle;
        {
            llvm::raw_string_ostream os(tvMangle);
            m_mangler->mangleCXXVTable(rdP, os);
        }
        {
            llvm::raw_string_ostream os(tiMangle);
            m_mangler->mangleCXXRTTI(m_ctx.getRecordType(rdP), os);
        }
        std::string prefix = rdP->isExternallyVisible() ? std::string() : m_unit.m_unitId + "::";
        std::string tv = prefix + tvMangle, ti = prefix + tiMangle, va = "VA:" + ti,
                    slots = "VS:" + tv;
        std::string name = label_of(rdP);
        add_plain(tv, "TV", "vtable for " + name, tvMangle);
        add_plain(ti, "TI", "typeinfo for " + name, tiMangle);
        add_plain(va, "VA", "&typeinfo for " + name, std::string());
        add_plain(slots, "VS", "vtable slots of " + name, std::string());
        m_classSlots[rdP] = slots;
        m_classTypeinfo[rdP] = ti;
        relate(ti, "contain", va);
        relate(tv, "ref", va);

        for (const CXXMethodDecl* mdP : rdP->methods())
            if (mdP->isVirtual() && !mdP->isImplicit() && role(mdP) == Role_entity)
                ensure_function(mdP, false);
        // The unit that defines the key function emits the table, which
        // names every slot; and a class whose users lie outside the
        // database (exported) may be built by them.
        if (const CXXMethodDecl* keyP = m_ctx.getCurrentKeyFunction(rdP)) {
            if (role(keyP) == Role_entity) {
                std::string keyId = ensure_function(keyP, false);
                if (!keyId.empty())
                    relate(keyId, "ref", slots);
            }
        }
        if (class_exported(rdP))
            m_facts.m_built.insert(slots);

        CSink slotSink{slots, nullptr};
        for (const CXXBaseSpecifier& base : rdP->bases()) {
            const CXXRecordDecl* baseP = base.getType()->getAsCXXRecordDecl();
            if (!baseP || !(baseP = baseP->getDefinition()) || !baseP->isDynamicClass())
                continue;
            if (!ensure_class(baseP).empty())
                relate(ti, "ref", "VA:" + m_classTypeinfo[baseP]);
            use_class_table(slotSink, baseP);
        }
        for (const CXXMethodDecl* mdP : slot_functions(rdP)) {
            if (role(mdP) == Role_entity) {
                std::string id = ensure_function(mdP, false);
                if (id.empty())
                    continue;
                std::string fa = ensure_address(id, mdP);
                relate(tv, "ref", fa);
                relate(slots, "ref", fa);
            } else {
                use_function(slotSink, mdP, Use_call);
            }
            if (const auto* dtorP = dyn_cast<CXXDestructorDecl>(mdP))
                use_function(slotSink, dtorP->getOperatorDelete(), Use_call);
        }
        return slots;
    }

    void add_plain(const std::string& id, const char* cls, const std::string& label,
                   const std::string& mangle) {
        CFactEntity e;
        e.m_id = id;
        e.m_class = cls;
        e.m_label = label;
        e.m_mangle = mangle;
        m_facts.add_entity(e);
    }

    struct CClosure {
        CUseSet m_uses;
        int m_state = 0; // 0 not walked, 1 being walked, 2 walked
        int m_depth = 0;
        int m_pendingLow = INT_MAX; // depth of the cycle head it waits for
    };

    ASTContext& m_ctx;
    SourceManager& m_sm;
    const CUnitContext& m_unit;
    CUnitFacts& m_facts;
    std::unique_ptr<ItaniumMangleContext> m_mangler;
    std::string m_ctorRoot, m_keepRoot;

    std::map<FileID, bool> m_projectFiles;
    std::unordered_map<const FileEntry*, std::string> m_realNames;
    std::unordered_map<const Decl*, std::string> m_functionIds;
    std::unordered_set<const Decl*> m_definedFunctions;
    std::unordered_map<const Decl*, std::string> m_variableIds;
    std::unordered_map<const Decl*, std::string> m_bodyIds;
    std::unordered_set<const Decl*> m_definedBodies;
    std::unordered_map<const CXXRecordDecl*, std::string> m_classSlots;
    std::unordered_map<const CXXRecordDecl*, std::string> m_classTypeinfo;
    std::unordered_map<const CXXRecordDecl*, CUseSet> m_systemTables;
    std::map<const Decl*, CUseSet> m_patternUses;
    std::map<const Decl*, const FunctionDecl*> m_patternDefs; // templates' texts
    std::map<const Decl*, std::string> m_patternIds;
    std::unordered_map<const Decl*, std::vector<std::string>> m_instances;
    std::unordered_set<const DeclContext*> m_siblingsDone;
    std::set<std::string> m_probedNames;
    std::set<std::string> m_symbolTargets;
    std::map<unsigned, CMacroWork> m_macroWork;
    std::unordered_map<std::string, std::vector<std::string>> m_definedByName;
    std::unordered_map<const Decl*, const Decl*> m_previousSibling;

    std::unordered_map<const Decl*, CClosure> m_closures;
    std::map<int, std::vector<const Decl*>> m_pending;
    size_t m_closureDepth = 0;
    int m_lowHit = INT_MAX;
};

bool CWalker::TraverseDecl(Decl* declP) {
    if (!declP)
        return true;
    if (m_inFunction > 0 || isa<TranslationUnitDecl>(declP)) {
        if (auto* mdP = dyn_cast<CXXMethodDecl>(declP))
            m_unit.overrides_need_base(mdP);
        return Base::TraverseDecl(declP);
    }
    if (declP->isInvalidDecl() || !m_unit.is_project(declP->getLocation()))
        return true;
    if (declP->hasAttrs())
        m_unit.symbol_targets(declP);
    m_unit.macro_decl_other(declP);
    if (auto* mdP = dyn_cast<CXXMethodDecl>(declP))
        m_unit.overrides_need_base(mdP);
    if (auto* fdP = dyn_cast<FunctionDecl>(declP))
        return m_unit.top_function(*this, fdP);
    if (auto* vdP = dyn_cast<VarDecl>(declP))
        if (!isa<ParmVarDecl>(vdP))
            return m_unit.top_variable(*this, vdP);
    if (auto* rdP = dyn_cast<CXXRecordDecl>(declP))
        m_unit.top_record(rdP);
    return Base::TraverseDecl(declP);
}

bool CWalker::VisitCallExpr(CallExpr* exprP) {
    const Expr* calleeP = exprP->getCallee();
    if (!calleeP)
        return true;
    calleeP = calleeP->IgnoreParenImpCasts();
    m_callees.insert(calleeP);
    const FunctionDecl* fdP = exprP->getDirectCallee();
    if (!fdP || needs_declaration_only(fdP))
        return true;
    EUseKind kind = Use_call;
    if (const auto* mdP = dyn_cast<CXXMethodDecl>(fdP)) {
        if (mdP->isVirtual()) {
            if (const auto* meP = dyn_cast<MemberExpr>(calleeP))
                kind = meP->performsVirtualDispatch(mdP->getASTContext().getLangOpts())
                           ? Use_virtual
                           : Use_call;
            else if (isa<CXXOperatorCallExpr>(exprP))
                kind = Use_virtual;
        }
    }
    m_unit.use_function(m_sink, fdP, kind);
    return true;
}

bool CWalker::VisitDeclRefExpr(DeclRefExpr* exprP) {
    ValueDecl* declP = exprP->getDecl();
    if (auto* fdP = dyn_cast<FunctionDecl>(declP)) {
        if (!m_callees.count(exprP) && !needs_declaration_only(fdP))
            m_unit.use_function(m_sink, fdP, Use_address);
    } else if (auto* vdP = dyn_cast<VarDecl>(declP)) {
        m_unit.use_variable(m_sink, vdP);
    }
    return true;
}

bool CWalker::VisitMemberExpr(MemberExpr* exprP) {
    ValueDecl* declP = exprP->getMemberDecl();
    if (auto* mdP = dyn_cast<CXXMethodDecl>(declP)) {
        if (!m_callees.count(exprP) && !needs_declaration_only(mdP))
            m_unit.use_function(m_sink, mdP, Use_call);
    } else if (auto* vdP = dyn_cast<VarDecl>(declP)) {
        m_unit.use_variable(m_sink, vdP);
    }
    return true;
}

bool CWalker::VisitOverloadExpr(OverloadExpr* exprP) {
    m_unit.use_unresolved(m_sink, exprP);
    if (exprP->isTypeDependent() || exprP->isValueDependent() || isa<UnresolvedMemberExpr>(exprP))
        m_unit.probed_name(exprP->getName());
    return true;
}

bool CWalker::VisitCXXDependentScopeMemberExpr(CXXDependentScopeMemberExpr* exprP) {
    m_unit.probed_name(exprP->getMember());
    return true;
}

bool CWalker::VisitDependentScopeDeclRefExpr(DependentScopeDeclRefExpr* exprP) {
    m_unit.probed_name(exprP->getDeclName());
    return true;
}

bool CWalker::VisitBinaryOperator(BinaryOperator* exprP) {
    if (exprP->isTypeDependent())
        m_unit.probed_name("operator" + BinaryOperator::getOpcodeStr(exprP->getOpcode()).str());
    return true;
}

bool CWalker::VisitUnaryOperator(UnaryOperator* exprP) {
    if (exprP->isTypeDependent())
        m_unit.probed_name("operator" + UnaryOperator::getOpcodeStr(exprP->getOpcode()).str());
    return true;
}

bool CWalker::VisitCXXConstructExpr(CXXConstructExpr* exprP) {
    m_unit.note_built(exprP->getConstructor());
    if (!needs_declaration_only(exprP->getConstructor()))
        m_unit.use_function(m_sink, exprP->getConstructor(), Use_call);
    return true;
}

bool CWalker::VisitCXXInheritedCtorInitExpr(CXXInheritedCtorInitExpr* exprP) {
    m_unit.note_built(exprP->getConstructor());
    m_unit.use_function(m_sink, exprP->getConstructor(), Use_call);
    return true;
}

bool CWalker::TraverseIfStmt(IfStmt* stmtP) {
    if (!stmtP->isConstexpr())
        return Base::TraverseIfStmt(stmtP);
    llvm::Optional<Stmt*> kept = stmtP->getNondiscardedCase(m_unit.context());
    if (!kept)
        return Base::TraverseIfStmt(stmtP);
    Stmt* discardedP = *kept == stmtP->getThen() ? stmtP->getElse() : stmtP->getThen();
    TraverseStmt(stmtP->getInit());
    if (stmtP->getConditionVariableDeclStmt())
        TraverseStmt(stmtP->getConditionVariableDeclStmt());
    TraverseStmt(stmtP->getCond());
    TraverseStmt(*kept);
    return unevaluated(true, [&] { return TraverseStmt(discardedP); });
}

bool CWalker::needs_declaration_only(const FunctionDecl* fdP) {
    if (!fdP || (m_unevaluated == 0 && !m_namesOnly))
        return false;
    return m_unit.declaration_suffices(fdP);
}

bool CWalker::VisitCXXBindTemporaryExpr(CXXBindTemporaryExpr* exprP) {
    if (const CXXTemporary* tempP = exprP->getTemporary())
        m_unit.use_function(m_sink, tempP->getDestructor(), Use_call);
    return true;
}

bool CWalker::VisitCXXNewExpr(CXXNewExpr* exprP) {
    m_unit.use_function(m_sink, exprP->getOperatorNew(), Use_call);
    m_unit.use_function(m_sink, exprP->getOperatorDelete(), Use_call);
    if (exprP->isArray())
        m_unit.use_destructor(m_sink, exprP->getAllocatedType());
    return true;
}

bool CWalker::VisitCXXDeleteExpr(CXXDeleteExpr* exprP) {
    m_unit.use_function(m_sink, exprP->getOperatorDelete(), Use_call);
    QualType type = exprP->getDestroyedType();
    if (type.isNull() || type->isDependentType())
        return true;
    const CXXRecordDecl* rdP = type->getAsCXXRecordDecl();
    if (rdP && (rdP = rdP->getDefinition()) && !rdP->hasTrivialDestructor()) {
        if (const CXXDestructorDecl* dtorP = rdP->getDestructor())
            m_unit.use_function(m_sink, dtorP, dtorP->isVirtual() ? Use_virtual : Use_call);
        else
            m_unit.use_destructor(m_sink, type);
    }
    return true;
}

bool CWalker::VisitCXXThrowExpr(CXXThrowExpr* exprP) {
    if (const Expr* subP = exprP->getSubExpr()) {
        m_unit.use_destructor(m_sink, subP->getType());
        m_unit.use_table(m_sink, subP->getType());
    }
    return true;
}

bool CWalker::VisitCXXCatchStmt(CXXCatchStmt* stmtP) {
    m_unit.use_table(m_sink, stmtP->getCaughtType());
    return true;
}

bool CWalker::VisitCXXTypeidExpr(CXXTypeidExpr* exprP) {
    if (exprP->isTypeOperand())
        m_unit.use_table(m_sink, exprP->getTypeOperandSourceInfo()->getType());
    else if (const Expr* opP = exprP->getExprOperand())
        m_unit.use_table(m_sink, opP->getType());
    return true;
}

bool CWalker::VisitCXXDynamicCastExpr(CXXDynamicCastExpr* exprP) {
    m_unit.use_table(m_sink, exprP->getTypeAsWritten());
    if (const Expr* subP = exprP->getSubExpr())
        m_unit.use_table(m_sink, subP->getType());
    return true;
}

bool CWalker::VisitCXXDefaultInitExpr(CXXDefaultInitExpr* exprP) {
    if (Expr* initP = exprP->getExpr())
        TraverseStmt(initP);
    return true;
}

bool CWalker::VisitLambdaExpr(LambdaExpr* exprP) {
    // A generic lambda's body above is its pattern; the bodies made from it
    // hold the resolved calls.
    if (FunctionTemplateDecl* templP = exprP->getDependentCallOperator())
        for (FunctionDecl* specP : templP->specializations())
            if (specP->doesThisDeclarationHaveABody())
                TraverseStmt(specP->getBody());
    return true;
}

bool CWalker::VisitVarDecl(VarDecl* declP) {
    if (isa<ParmVarDecl>(declP) || !(declP->hasLocalStorage() || declP->isStaticLocal()))
        return true;
    if (!declP->getType()->isDependentType() && declP->needsDestruction(declP->getASTContext()))
        m_unit.use_destructor(m_sink, declP->getType());
    if (const auto* cleanupP = declP->getAttr<CleanupAttr>())
        m_unit.use_function(m_sink, cleanupP->getFunctionDecl(), Use_call);
    return true;
}

} // namespace

std::string ctor_root_id(const std::string& unitId) { return unitId + "::_GLOBAL__sub_I"; }
std::string keep_root_id(const std::string& unitId) { return unitId + "::_GLOBAL__keep"; }

void collect_unit_facts(ASTContext& ctx, const CUnitContext& unit, CUnitFacts& factsR) {
    CUnitCollector collector(ctx, unit, factsR);
    collector.run();
}
