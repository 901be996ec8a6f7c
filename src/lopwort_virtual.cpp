// Virtual-call resolution. Reaching a virtual function that is called
// virtually must also reach the functions that override it in derived
// classes, which the search cannot find through uses: it never walks through
// a virtual table. A resolution finds the function's class through its
// virtual table (or, when the facts lack that link, through the class name of
// every table), walks down the whole class hierarchy through the
// type-information facts, and hands the search every same-named virtual
// function in each derived class's table, one at a time.
#include "lopwort_analysis.h"

#include "EntityClass.h"
#include "EntityInstance.h"
#include "RelationClass.h"
#include "RelationInstance.h"
#include "TaInput.h"
#include "lopwort.h"
#include "signature.h"
#include "stringcache.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

bool hasType(CEntityInstance* eP, const char* typeP) { return strcmp(eP->getType(), typeP) == 0; }

// What resolution asks of an entity's mangled name, worked out once per
// entity: every virtual function of a hierarchy walks the same tables, so the
// same names would otherwise be parsed again and again (seven times each on
// a generated program). Renderings are interned, so equal ones are one
// pointer; null where the name has no such part.
struct NameFacts {
    bool parsed;               // there is a "mangle" and it parses
    const char* classNameP;    // its class
    const char* functionNameP; // its function's name, which overriders share
};

std::unordered_map<CEntityInstance*, NameFacts>* g_namesP =
    new std::unordered_map<CEntityInstance*, NameFacts>();

const NameFacts& namesOf(CEntityInstance* eP) {
    auto it = g_namesP->find(eP);
    if (it != g_namesP->end())
        return it->second;
    static Csignature* parserP = new Csignature();
    NameFacts facts = {false, nullptr, nullptr};
    const char* mangleP = eP->getAttribute("mangle");
    if (mangleP != nullptr && parserP->signature(mangleP) != nullptr) {
        facts.parsed = true;
        if (const char* nameP = parserP->get_classname())
            facts.classNameP = stringCache(nameP);
        if (const char* nameP = parserP->get_function_name())
            facts.functionNameP = stringCache(nameP);
    }
    return g_namesP->emplace(eP, facts).first->second;
}

// Whether both renderings exist and are equal.
bool same(const char* oneP, const char* twoP) { return oneP != nullptr && oneP == twoP; }

bool isCVF(CRelationInstance* relP) { return strcmp(relP->getRelationClass()->getId(), "CVF") == 0; }

// The first contained entity of a given type: a function's address, a type
// information's address.
CEntityInstance* containedOfType(CEntityInstance* eP, const char* typeP) {
    for (CRelationInstance* relP = eP->m_srcRelListP; relP; relP = relP->m_next_srcP) {
        if (isContain(relP->getRelationClass()->getId()) && hasType(relP->m_dstP, typeP))
            return relP->m_dstP;
    }
    return nullptr;
}

// A table's type information: the first "VA" it refers to whose container is
// a "TI". Returns the "TI" and sets *addrPP to its address.
CEntityInstance* typeinfoOfTable(CEntityInstance* vtableP, CEntityInstance** addrPP) {
    for (CRelationInstance* relP = vtableP->m_srcRelListP; relP; relP = relP->m_next_srcP) {
        CEntityInstance* dstP = relP->m_dstP;
        if (!hasType(dstP, "VA"))
            continue;
        CEntityInstance* parentP = dstP->getParent();
        if (parentP && hasType(parentP, "TI")) {
            *addrPP = dstP;
            return parentP;
        }
    }
    return nullptr;
}

// The class name of every virtual table, built on first need, for functions
// whose own table cannot be reached through their address.
std::unordered_map<std::string, CEntityInstance*>* g_tablesByClassP = nullptr;

CEntityInstance* tableByClassName(const char* classnameP) {
    if (g_tablesByClassP == nullptr) {
        g_tablesByClassP = new std::unordered_map<std::string, CEntityInstance*>();
        for (CEntityClass* classP = ta.getEntityClass(nullptr); classP; classP = classP->m_nextP) {
            for (CEntityInstance* eP = classP->m_entityInstancesP; eP; eP = eP->m_nextInClassP) {
                if (!hasType(eP, "TV"))
                    continue;
                if (const char* nameP = namesOf(eP).classNameP)
                    g_tablesByClassP->emplace(nameP, eP);
            }
        }
    }
    auto it = g_tablesByClassP->find(classnameP);
    return it == g_tablesByClassP->end() ? nullptr : it->second;
}

// For each virtual function whose resolution ran to its end, the type
// information addresses of the classes it resolved down from.
std::unordered_map<CEntityInstance*, std::vector<CEntityInstance*>>* g_resolvedBelowP =
    new std::unordered_map<CEntityInstance*, std::vector<CEntityInstance*>>();

bool resolvedBelow(CEntityInstance* functionP, CEntityInstance* addrP) {
    auto it = g_resolvedBelowP->find(functionP);
    if (it == g_resolvedBelowP->end())
        return false;
    for (CEntityInstance* belowP : it->second) {
        if (belowP == addrP)
            return true;
    }
    return false;
}

// The classes below which every virtual function of a name has been handed
// out, by a resolution that walked there to the end. The ordered walk
// resolves the overriders below a function before it goes on past them, so
// the covered levels of a resolution (below) are enough there; the
// unordered walk may resolve a function first and its overriders later, and
// without this each of a deep hierarchy's functions would walk the whole of
// it again. The ordered walk, which the trace shows, does not look here, so
// that its trace stays as it was.
struct NameBelow {
    const char* nameP;
    CEntityInstance* addrP;
    bool operator==(const NameBelow& o) const { return nameP == o.nameP && addrP == o.addrP; }
};
struct NameBelowHash {
    size_t operator()(const NameBelow& k) const {
        return std::hash<const void*>()(k.nameP) * 31 + std::hash<const void*>()(k.addrP);
    }
};
std::unordered_set<NameBelow, NameBelowHash>* g_doneBelowP =
    new std::unordered_set<NameBelow, NameBelowHash>();

class CVirtualResolution : public CResolution {
  public:
    explicit CVirtualResolution(CEntityInstance* functionP)
        : m_functionP(functionP), m_nameP(nullptr) {}

    // Finds the classes to descend from; false when there is none.
    bool start();
    CEntityInstance* next() override;

  private:
    // One class on the way down: its type information's address, whose
    // incoming relations lead to the directly derived classes.
    struct Level {
        CEntityInstance* addrP;
        CRelationInstance* cursorP;
        // Whether a same-named function in this class's table has resolved
        // its own calls down from this class: then every same-named
        // function below is reached (or can never be), and nothing below
        // needs walking again. Without this, a hierarchy n deep whose every
        // level overrides and is called virtually costs n squared.
        bool covered;
        std::vector<CEntityInstance*> handed; // overriders handed out from the table
    };

    CEntityInstance* m_functionP;
    const char* m_nameP; // the function's name, as namesOf renders it
    std::vector<CEntityInstance*> m_roots; // type information of the classes to descend from
    std::vector<CEntityInstance*> m_rootAddrs;
    size_t m_nextRoot = 0;
    std::vector<Level> m_levels;
    std::unordered_set<CEntityInstance*> m_seen; // type information already examined
    CRelationInstance* m_slotP = nullptr;        // the next slot of the current table

    void addRoot(CEntityInstance* vtableP);
    CEntityInstance* nextSlot();
    bool enterClass(CEntityInstance* typeinfoP);
    // Whether the classes below the level need no walking (Level::covered).
    static bool coveredBelow(const Level& level) {
        if (level.covered)
            return true;
        for (CEntityInstance* handedP : level.handed) {
            if (resolvedBelow(handedP, level.addrP))
                return true;
        }
        return false;
    }
};

void CVirtualResolution::addRoot(CEntityInstance* vtableP) {
    CEntityInstance* addrP = nullptr;
    CEntityInstance* typeinfoP = typeinfoOfTable(vtableP, &addrP);
    if (typeinfoP == nullptr)
        return;
    for (CEntityInstance* knownP : m_roots) {
        if (knownP == typeinfoP)
            return;
    }
    m_roots.push_back(typeinfoP);
    m_rootAddrs.push_back(addrP);
}

bool CVirtualResolution::start() {
    const NameFacts& function1 = namesOf(m_functionP);
    if (!function1.parsed)
        return false;
    m_nameP = function1.functionNameP;
    // The function's own class: the table that holds its address and has its
    // class name; without one, the table of that class name.
    CEntityInstance* fa1P = containedOfType(m_functionP, "FA");
    CEntityInstance* vtable1P = nullptr;
    if (fa1P) {
        for (CRelationInstance* relP = fa1P->m_dstRelListP; relP && !vtable1P;
             relP = relP->m_next_dstP) {
            CEntityInstance* srcP = relP->m_srcP;
            if (hasType(srcP, "TV") && same(function1.classNameP, namesOf(srcP).classNameP))
                vtable1P = srcP;
        }
    }
    if (vtable1P == nullptr) {
        if (function1.classNameP)
            vtable1P = tableByClassName(function1.classNameP);
    }
    if (vtable1P)
        addRoot(vtable1P);
    // Then the class of every other table holding one of the function's
    // addresses: a function that absorbed duplicates (the instances of a
    // class template's member) carries each instance's address.
    for (CRelationInstance* relP = m_functionP->m_srcRelListP; relP; relP = relP->m_next_srcP) {
        if (!isContain(relP->getRelationClass()->getId()) || !hasType(relP->m_dstP, "FA"))
            continue;
        for (CRelationInstance* inP = relP->m_dstP->m_dstRelListP; inP; inP = inP->m_next_dstP) {
            if (inP->m_srcP != vtable1P && hasType(inP->m_srcP, "TV"))
                addRoot(inP->m_srcP);
        }
    }
    return !m_roots.empty();
}

// Makes a class's table current and its derived classes the next level.
bool CVirtualResolution::enterClass(CEntityInstance* typeinfoP) {
    CEntityInstance* addrP = containedOfType(typeinfoP, "VA");
    if (addrP == nullptr)
        return false;
    m_slotP = nullptr;
    for (CRelationInstance* relP = addrP->m_dstRelListP; relP; relP = relP->m_next_dstP) {
        if (hasType(relP->m_srcP, "TV")) {
            m_slotP = relP->m_srcP->m_srcRelListP;
            break;
        }
    }
    m_levels.push_back({addrP, addrP->m_dstRelListP, false, {}});
    return true;
}

// The next slot of the current table that holds an unmarked, same-named
// virtual function.
CEntityInstance* CVirtualResolution::nextSlot() {
    while (m_slotP) {
        CEntityInstance* fa2P = m_slotP->m_dstP;
        m_slotP = m_slotP->m_next_srcP;
        if (!hasType(fa2P, "FA"))
            continue;
        CEntityInstance* function2P = fa2P->getParent();
        if (function2P != nullptr && function2P->m_visited != 0 && !m_levels.empty() &&
            resolvedBelow(function2P, m_levels.back().addrP) && hasType(function2P, "VF") &&
            same(m_nameP, namesOf(function2P).functionNameP))
            m_levels.back().covered = true;
        if (function2P == nullptr || function2P->m_visited != 0 || !hasType(function2P, "VF"))
            continue;
        if (same(m_nameP, namesOf(function2P).functionNameP)) {
            if (!m_levels.empty())
                m_levels.back().handed.push_back(function2P);
            return function2P;
        }
    }
    return nullptr;
}

CEntityInstance* CVirtualResolution::next() {
    for (;;) {
        if (CEntityInstance* foundP = nextSlot())
            return foundP;
        if (m_levels.empty()) {
            if (m_nextRoot == m_roots.size()) {
                // Complete: below each root, every same-named function is
                // reached or can never be.
                std::vector<CEntityInstance*>& below = (*g_resolvedBelowP)[m_functionP];
                below.insert(below.end(), m_rootAddrs.begin(), m_rootAddrs.end());
                return nullptr;
            }
            CEntityInstance* rootP = m_roots[m_nextRoot];
            CEntityInstance* addrP = m_rootAddrs[m_nextRoot++];
            if (!m_seen.insert(rootP).second)
                continue;
            m_levels.push_back({addrP, addrP->m_dstRelListP, false, {}});
            continue;
        }
        // Depth first: the next derived class of the deepest class, whose
        // table is searched before its own derived classes.
        Level& level = m_levels.back();
        if (level.cursorP == level.addrP->m_dstRelListP &&
            (coveredBelow(level) ||
             (!g_tree_flag && g_doneBelowP->count({m_nameP, level.addrP}) != 0)))
            level.cursorP = nullptr; // before the first derived class
        if (level.cursorP == nullptr) {
            if (m_nameP != nullptr)
                g_doneBelowP->insert({m_nameP, level.addrP});
            m_levels.pop_back();
            continue;
        }
        CEntityInstance* typeinfo2P = level.cursorP->m_srcP;
            level.cursorP = level.cursorP->m_next_dstP;
        if (!hasType(typeinfo2P, "TI") || !m_seen.insert(typeinfo2P).second)
            continue;
        enterClass(typeinfo2P);
    }
}

} // namespace

CResolution* handle_polymorphism(CEntityInstance* function1P, int depth) {
    (void)depth; // overriders are visited one level below the function
    if (!hasType(function1P, "VF"))
        return nullptr;
    bool called = false;
    for (CRelationInstance* relP = function1P->m_dstRelListP; relP && !called;
         relP = relP->m_next_dstP)
        called = isCVF(relP);
    if (!called)
        return nullptr;
    CVirtualResolution* resolutionP = new CVirtualResolution(function1P);
    if (!resolutionP->start()) {
        delete resolutionP;
        return nullptr;
    }
    return resolutionP;
}
