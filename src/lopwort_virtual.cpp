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
#include "signature.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// The two long-lived parsers: signature1 holds the function being resolved,
// signature2 each name compared with it.
Csignature* signature1P = nullptr;
Csignature* signature2P = nullptr;
// The resolution whose function signature1 holds now; a nested resolution
// parses another name into it, so the outer one parses again when resumed.
const void* g_signature1OwnerP = nullptr;

bool hasType(CEntityInstance* eP, const char* typeP) { return strcmp(eP->getType(), typeP) == 0; }

bool parses(Csignature* sP, CEntityInstance* eP) {
    const char* mangleP = eP->getAttribute("mangle");
    return mangleP != nullptr && sP->signature(mangleP) != nullptr;
}

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
        Csignature parser;
        for (CEntityClass* classP = ta.getEntityClass(nullptr); classP; classP = classP->m_nextP) {
            for (CEntityInstance* eP = classP->m_entityInstancesP; eP; eP = eP->m_nextInClassP) {
                if (!hasType(eP, "TV") || !parses(&parser, eP))
                    continue;
                const char* nameP = parser.get_classname();
                if (nameP)
                    g_tablesByClassP->emplace(nameP, eP);
            }
        }
    }
    auto it = g_tablesByClassP->find(classnameP);
    return it == g_tablesByClassP->end() ? nullptr : it->second;
}

class CVirtualResolution : public CResolution {
  public:
    explicit CVirtualResolution(CEntityInstance* functionP) : m_functionP(functionP) {}
    // A later resolution may be given this one's address.
    ~CVirtualResolution() override {
        if (g_signature1OwnerP == this)
            g_signature1OwnerP = nullptr;
    }

    // Finds the classes to descend from; false when there is none.
    bool start();
    CEntityInstance* next() override;

  private:
    // One class on the way down: its type information's address, whose
    // incoming relations lead to the directly derived classes.
    struct Level {
        CEntityInstance* addrP;
        CRelationInstance* cursorP;
    };

    CEntityInstance* m_functionP;
    std::vector<CEntityInstance*> m_roots; // type information of the classes to descend from
    std::vector<CEntityInstance*> m_rootAddrs;
    size_t m_nextRoot = 0;
    std::vector<Level> m_levels;
    std::unordered_set<CEntityInstance*> m_seen; // type information already examined
    CRelationInstance* m_slotP = nullptr;        // the next slot of the current table

    void addRoot(CEntityInstance* vtableP);
    bool reparse();
    CEntityInstance* nextSlot();
    bool enterClass(CEntityInstance* typeinfoP);
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

bool CVirtualResolution::reparse() {
    if (g_signature1OwnerP == this)
        return true;
    g_signature1OwnerP = this;
    return parses(signature1P, m_functionP);
}

bool CVirtualResolution::start() {
    if (!reparse())
        return false;
    // The function's own class: the table that holds its address and has its
    // class name; without one, the table of that class name.
    CEntityInstance* fa1P = containedOfType(m_functionP, "FA");
    CEntityInstance* vtable1P = nullptr;
    if (fa1P) {
        for (CRelationInstance* relP = fa1P->m_dstRelListP; relP && !vtable1P;
             relP = relP->m_next_dstP) {
            CEntityInstance* srcP = relP->m_srcP;
            if (hasType(srcP, "TV") && parses(signature2P, srcP) &&
                signature1P->same_class(signature2P))
                vtable1P = srcP;
        }
    }
    if (vtable1P == nullptr) {
        const char* classnameP = signature1P->get_classname();
        if (classnameP)
            vtable1P = tableByClassName(std::string(classnameP).c_str());
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
    m_levels.push_back({addrP, addrP->m_dstRelListP});
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
            if (function2P == nullptr || function2P->m_visited != 0 || !hasType(function2P, "VF"))
            continue;
        if (!reparse())
            return nullptr;
        if (parses(signature2P, function2P) && signature1P->same_function_name(signature2P))
            return function2P;
    }
    return nullptr;
}

CEntityInstance* CVirtualResolution::next() {
    for (;;) {
        if (CEntityInstance* foundP = nextSlot())
            return foundP;
        if (m_levels.empty()) {
            if (m_nextRoot == m_roots.size())
                return nullptr;
            CEntityInstance* rootP = m_roots[m_nextRoot];
            CEntityInstance* addrP = m_rootAddrs[m_nextRoot++];
            if (!m_seen.insert(rootP).second)
                continue;
            m_levels.push_back({addrP, addrP->m_dstRelListP});
            continue;
        }
        // Depth first: the next derived class of the deepest class, whose
        // table is searched before its own derived classes.
        Level& level = m_levels.back();
        if (level.cursorP == nullptr) {
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
    if (signature1P == nullptr) {
        signature1P = new Csignature();
        signature2P = new Csignature();
    }
    CVirtualResolution* resolutionP = new CVirtualResolution(function1P);
    if (!resolutionP->start()) {
        delete resolutionP;
        return nullptr;
    }
    return resolutionP;
}
