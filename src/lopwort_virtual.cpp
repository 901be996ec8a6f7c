// Virtual-call resolution. Reaching a virtual function that is called
// virtually must also reach the functions that override it in derived
// classes, which the search cannot find through uses: it never walks through
// a virtual table. A resolution finds the function's class through its
// virtual table (or, when the facts lack that link, through the class name of
// every table), walks down the whole class hierarchy through the
// type-information facts, and hands the search every same-named virtual
// function in each derived class's table, one at a time.
//
// What a resolution reaches depends only on the facts: the classes below
// its start classes and the names in their tables. The order in which the
// search reaches things changes only how much of that is already marked.
// The one shortcut, not walking below a class again, is taken only where a
// finished walk has shown that everything of the name below it is marked.
#include "lopwort_virtual.h"

#include "EntityClass.h"
#include "EntityInstance.h"
#include "RelationClass.h"
#include "RelationInstance.h"
#include "signature.h"
#include "stringcache.h"

#include <cstring>

namespace {

bool hasType(CEntityInstance* eP, const char* typeP) { return strcmp(eP->getType(), typeP) == 0; }

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

// A table's type-information address: the first "VA" it refers to whose
// container is a "TI".
CEntityInstance* typeinfoAddressOfTable(CEntityInstance* vtableP) {
    for (CRelationInstance* relP = vtableP->m_srcRelListP; relP; relP = relP->m_next_srcP) {
        CEntityInstance* dstP = relP->m_dstP;
        if (!hasType(dstP, "VA"))
            continue;
        CEntityInstance* parentP = dstP->getParent();
        if (parentP && hasType(parentP, "TI"))
            return dstP;
    }
    return nullptr;
}

// A class's table: the first table that refers to its type information's
// address.
CEntityInstance* tableOfAddress(CEntityInstance* addrP) {
    for (CRelationInstance* relP = addrP->m_dstRelListP; relP; relP = relP->m_next_dstP) {
        if (hasType(relP->m_srcP, "TV"))
            return relP->m_srcP;
    }
    return nullptr;
}

// Resolutions that see more classes than this keep them in a hash set.
const size_t kFewClasses = 16;

} // namespace

CResolver::CResolver(CEntityClass* classListP)
    : m_classListP(classListP), m_parserP(new Csignature()) {}

CResolver::~CResolver() {}

CResolver::NameFacts CResolver::namesOf(CEntityInstance* eP) {
    if (const NameFacts* knownP = m_names.find(eP))
        return *knownP;
    NameFacts facts = {false, nullptr, nullptr};
    const char* mangleP = eP->getAttribute("mangle");
    if (mangleP != nullptr && m_parserP->signature(mangleP) != nullptr) {
        facts.parsed = true;
        if (const char* nameP = m_parserP->get_classname())
            facts.classNameP = stringCache(nameP);
        if (const char* nameP = m_parserP->get_function_name())
            facts.functionNameP = stringCache(nameP);
    }
    return m_names.add(eP, facts);
}

// The first table of each class name, in the order of the class list.
CEntityInstance* CResolver::tableByClassName(const char* classnameP) {
    if (!m_tablesBuilt) {
        m_tablesBuilt = true;
        for (CEntityClass* classP = m_classListP; classP; classP = classP->m_nextP) {
            if (classP->getId() == nullptr || strcmp(classP->getId(), "TV") != 0)
                continue;
            for (CEntityInstance* eP = classP->m_entityInstancesP; eP; eP = eP->m_nextInClassP) {
                const char* nameP = namesOf(eP).classNameP;
                if (nameP != nullptr && m_tablesByClass.find(nameP) == nullptr)
                    m_tablesByClass.add(nameP, eP);
            }
        }
    }
    CEntityInstance** tablePP = m_tablesByClass.find(classnameP);
    return tablePP ? *tablePP : nullptr;
}

CResolution* CResolver::handle_polymorphism(CEntityInstance* function1P) {
    if (!hasType(function1P, "VF"))
        return nullptr;
    bool called = false;
    for (CRelationInstance* relP = function1P->m_dstRelListP; relP && !called;
         relP = relP->m_next_dstP)
        called = isCVF(relP);
    if (!called)
        return nullptr;
    const NameFacts function1 = namesOf(function1P);
    // Without a function name no table slot can match.
    if (!function1.parsed || function1.functionNameP == nullptr)
        return nullptr;

    CResolution* resolutionP;
    if (m_spare.empty()) {
        resolutionP = new CResolution();
    } else {
        resolutionP = m_spare.back().release();
        m_spare.pop_back();
    }
    resolutionP->m_resolverP = this;
    resolutionP->reset(function1.functionNameP);

    // The function's own class: the table that holds its address and has its
    // class name; without one, the first table of that class name.
    CEntityInstance* fa1P = containedOfType(function1P, "FA");
    CEntityInstance* vtable1P = nullptr;
    if (fa1P) {
        for (CRelationInstance* relP = fa1P->m_dstRelListP; relP && !vtable1P;
             relP = relP->m_next_dstP) {
            CEntityInstance* srcP = relP->m_srcP;
            if (hasType(srcP, "TV") && function1.classNameP != nullptr &&
                namesOf(srcP).classNameP == function1.classNameP)
                vtable1P = srcP;
        }
    }
    if (vtable1P == nullptr && function1.classNameP != nullptr)
        vtable1P = tableByClassName(function1.classNameP);
    if (vtable1P)
        resolutionP->addRoot(vtable1P);
    // Then the class of every other table holding one of the function's
    // addresses: a function that absorbed duplicates (the instances of a
    // class template's member) carries each instance's address.
    for (CRelationInstance* relP = function1P->m_srcRelListP; relP; relP = relP->m_next_srcP) {
        if (!isContain(relP->getRelationClass()->getId()) || !hasType(relP->m_dstP, "FA"))
            continue;
        for (CRelationInstance* inP = relP->m_dstP->m_dstRelListP; inP; inP = inP->m_next_dstP) {
            if (inP->m_srcP != vtable1P && hasType(inP->m_srcP, "TV"))
                resolutionP->addRoot(inP->m_srcP);
        }
    }
    if (resolutionP->m_rootAddrs.empty()) {
        release(resolutionP);
        return nullptr;
    }
    return resolutionP;
}

void CResolver::release(CResolution* resolutionP) {
    if (resolutionP != nullptr)
        m_spare.emplace_back(resolutionP);
}

void CResolution::reset(const char* nameP) {
    m_nameP = nameP;
    m_rootAddrs.clear();
    m_nextRoot = 0;
    m_levels.clear();
    m_entered.clear();
    if (!m_enteredSet.empty())
        m_enteredSet = std::unordered_set<CEntityInstance*>();
    m_slotP = nullptr;
}

void CResolution::addRoot(CEntityInstance* vtableP) {
    CEntityInstance* addrP = typeinfoAddressOfTable(vtableP);
    if (addrP == nullptr)
        return;
    for (CEntityInstance* knownP : m_rootAddrs) {
        if (knownP == addrP)
            return;
    }
    m_rootAddrs.push_back(addrP);
}

void CResolution::push(CEntityInstance* addrP) {
    m_levels.push_back({addrP, addrP->getParent(), addrP->m_dstRelListP, Level::Fresh, true});
}

bool CResolution::entered(CEntityInstance* typeinfoP) const {
    if (!m_enteredSet.empty())
        return m_enteredSet.count(typeinfoP) != 0;
    for (CEntityInstance* knownP : m_entered) {
        if (knownP == typeinfoP)
            return true;
    }
    return false;
}

void CResolution::enter(CEntityInstance* typeinfoP) {
    if (!m_enteredSet.empty()) {
        m_enteredSet.insert(typeinfoP);
        return;
    }
    m_entered.push_back(typeinfoP);
    if (m_entered.size() > kFewClasses)
        m_enteredSet.insert(m_entered.begin(), m_entered.end());
}

// The next slot of the current table that holds an unmarked, same-named
// virtual function.
CEntityInstance* CResolution::nextSlot() {
    while (m_slotP) {
        CRelationInstance* slotP = m_slotP;
        CEntityInstance* fa2P = slotP->m_dstP;
        m_slotP = slotP->m_next_srcP;
        if (!hasType(fa2P, "FA"))
            continue;
        CEntityInstance* function2P = fa2P->getParent();
        if (function2P == nullptr || function2P->m_visited != 0 || !hasType(function2P, "VF"))
            continue;
        if (m_resolverP->namesOf(function2P).functionNameP == m_nameP) {
            m_tableP = slotP->m_srcP;
            return function2P;
        }
    }
    return nullptr;
}

// Depth first from each start class: a derived class's table is searched
// before the classes derived from it, and siblings come in the order of the
// relations that name them.
CEntityInstance* CResolution::next() {
    for (;;) {
        if (CEntityInstance* foundP = nextSlot())
            return foundP;
        if (m_levels.empty()) {
            if (m_nextRoot == m_rootAddrs.size())
                return nullptr;
            push(m_rootAddrs[m_nextRoot++]);
            continue;
        }
        Level& level = m_levels.back();
        if (level.state == Level::Fresh) {
            // Looked at only now, after the class's own table was searched:
            // what that reached may have finished the walk below it.
            level.state = Level::Walking;
            if (m_resolverP->doneBelow(m_nameP, level.addrP))
                level.cursorP = nullptr;
        }
        if (level.cursorP == nullptr) {
            CEntityInstance* addrP = level.addrP;
            bool complete = level.complete;
            m_levels.pop_back();
            if (complete)
                m_resolverP->setDoneBelow(m_nameP, addrP);
            else if (!m_levels.empty())
                m_levels.back().complete = false;
            continue;
        }
        CEntityInstance* typeinfo2P = level.cursorP->m_srcP;
        level.cursorP = level.cursorP->m_next_dstP;
        if (typeinfo2P == level.ownerP || !hasType(typeinfo2P, "TI"))
            continue;
        CEntityInstance* addr2P = containedOfType(typeinfo2P, "VA");
        if (entered(typeinfo2P)) {
            // Its table was searched earlier in this resolution; below it,
            // a walk may still be under way (a cycle) or have stopped short.
            if (addr2P != nullptr && !m_resolverP->doneBelow(m_nameP, addr2P))
                level.complete = false;
            continue;
        }
        enter(typeinfo2P);
        if (addr2P == nullptr)
            continue; // no table and no derived classes
        if (CEntityInstance* vtable2P = tableOfAddress(addr2P))
            m_slotP = vtable2P->m_srcRelListP;
        push(addr2P);
    }
}
