// Entity facts: attribute handling for label, line and file, navigation to the
// container, and the path of containers.
#include "EntityInstance.h"

#include "EntityClass.h"
#include "RelationClass.h"
#include "RelationInstance.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <vector>

CEntityInstance::CEntityInstance(CEntityClass* ecP, const char* idP)
    : m_srcRelListP(nullptr), m_dstRelListP(nullptr), m_nextInClassP(nullptr),
      m_nextInOrderP(nullptr), m_fullpathP(nullptr), m_lineno(NO_LINENO), m_visited(0),
      m_specialMangle(0) {
    setParentClass(ecP);
    m_nextInClassP = ecP->m_entityInstancesP;
    ecP->m_entityInstancesP = this;
    ++ecP->m_instances;
    m_visited = 0;
    setId(idP);
}

// Reads a line number as strtol would (blanks, sign, digits), but saturating
// instead of overflowing on absurdly long digit strings.
static int readLineno(const char* valueP) {
    long v = strtol(valueP, nullptr, 10);
    if (v > 2147483647L)
        return 2147483647;
    if (v < -2147483647L - 1)
        return -2147483647 - 1;
    return static_cast<int>(v);
}

void CEntityInstance::putAttribute(const char* idP, const char* valueP) {
    // Only ids beginning with l, f or m have a meaning of their own here.
    if (idP[0] != 'l' && idP[0] != 'f' && idP[0] != 'm') {
        CLandscapeObject::putAttribute(idP, valueP);
        return;
    }
    if (strcmp(idP, "label") == 0) {
        m_labelP = valueP;
        return;
    }
    if (strcmp(idP, "lineno") == 0) {
        // A "lineno" without a value leaves the entity without a line.
        if (valueP != nullptr)
            m_lineno = readLineno(valueP);
        return;
    }
    if (strcmp(idP, "file") == 0)
        m_fullpathP = valueP;
    if (strcmp(idP, "mangle") == 0)
        m_specialMangle = valueP != nullptr && strncmp(valueP, "_ZT", 3) == 0;
    CLandscapeObject::putAttribute(idP, valueP);
}

CEntityClass* CEntityInstance::getEntityClass() const {
    return static_cast<CEntityClass*>(m_parentClassP);
}

const char* CEntityInstance::getClassLabel() { return m_parentClassP->getLabel(); }

int isContain(const char* idP) { return idP[0] == 'c' && strcmp(idP, "contain") == 0; }

CEntityInstance* CEntityInstance::getParent() const {
    for (CRelationInstance* relP = m_dstRelListP; relP; relP = relP->m_next_dstP) {
        if (isContain(relP->getRelationClass()->getId()))
            return relP->m_srcP;
    }
    return nullptr;
}

CRelationInstance* CEntityInstance::getRelationTo(CRelationClass* rcP, CEntityInstance* dstP) {
    for (CRelationInstance* relP = m_srcRelListP; relP; relP = relP->m_next_srcP) {
        if (relP->getRelationClass() == rcP && relP->m_dstP == dstP)
            return relP;
    }
    return nullptr;
}

int CEntityInstance::buildPath(char** bufferPP, int load) {
    // Containers, innermost first. Walked iteratively so that a containment
    // chain of any length works; a cycle in malformed facts ends the chain at
    // the first container met again.
    std::vector<CEntityInstance*> chain;
    std::unordered_set<CEntityInstance*> seen;
    for (CEntityInstance* cP = getParent(); cP; cP = cP->getParent()) {
        if (cP == this)
            break;
        if (chain.size() >= 64) {
            if (seen.empty())
                seen.insert(chain.begin(), chain.end());
            if (!seen.insert(cP).second)
                break;
        } else if (std::find(chain.begin(), chain.end(), cP) != chain.end()) {
            break;
        }
        chain.push_back(cP);
    }
    if (chain.empty())
        return 0;
    // The cursor may start at null when only measuring, so it moves as an integer.
    uintptr_t pos = reinterpret_cast<uintptr_t>(*bufferPP);
    for (size_t i = chain.size(); i-- > 0;) {
        if (i + 1 != chain.size()) {
            if (load)
                *reinterpret_cast<char*>(pos) = '/';
            pos += 1;
        }
        // A container without a label contributes an empty component.
        const char* labelP = chain[i]->getLabel();
        if (labelP == nullptr)
            labelP = "";
        size_t lth = strlen(labelP);
        if (load)
            memcpy(reinterpret_cast<char*>(pos), labelP, lth + 1);
        pos += lth;
    }
    *bufferPP = reinterpret_cast<char*>(pos);
    return 1;
}
