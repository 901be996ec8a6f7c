// Consolidation and the reachability search.
//
// Consolidation finds duplicates through a hash table and sorts the
// survivors by path, line and the order in which they were met, which gives
// the same list, the same ties and the same survivors as inserting each
// entity from the head of the list, without the quadratic cost. The search walks with an explicit stack so that call chains
// of any length work, yet marks, traces and resolves in the order of a
// recursive depth-first walk.
#include "lopwort_analysis.h"

#include "EntityClass.h"
#include "EntityInstance.h"
#include "RelationClass.h"
#include "RelationInstance.h"
#include "TaInput.h"
#include "lopwort.h"
#include "xmalloc.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

CEntityInstance* g_headP = nullptr;

namespace {

bool isFunctionClass(const char* idP) {
    return idP != nullptr && (strcmp(idP, "GF") == 0 || strcmp(idP, "LF") == 0 ||
                              strcmp(idP, "VF") == 0);
}

bool sameLabel(const char* aP, const char* bP) {
    if (aP == nullptr || bP == nullptr)
        return aP == bP;
    return aP == bP || strcmp(aP, bP) == 0;
}

// The path of an entity without a usable "file": its containers' labels.
void buildFullPath(CEntityInstance* eP) {
    char* cursorP = nullptr;
    eP->buildPath(&cursorP, 0);
    size_t lth = static_cast<size_t>(reinterpret_cast<uintptr_t>(cursorP));
    char* bufferP = static_cast<char*>(arena_alloc(lth + 1));
    bufferP[0] = '\0';
    eP->m_fullpathP = bufferP;
    cursorP = bufferP;
    eP->buildPath(&cursorP, 1);
}

// Moves every relation of eP onto survivorP, each to the front of the
// survivor's list, outgoing first, then incoming.
void merge(CEntityInstance* eP, CEntityInstance* survivorP) {
    CRelationInstance* relP = eP->m_srcRelListP;
    while (relP) {
        CRelationInstance* nextP = relP->m_next_srcP;
        relP->m_srcP = survivorP;
        relP->m_next_srcP = survivorP->m_srcRelListP;
        survivorP->m_srcRelListP = relP;
        relP = nextP;
    }
    relP = eP->m_dstRelListP;
    while (relP) {
        CRelationInstance* nextP = relP->m_next_dstP;
        relP->m_dstP = survivorP;
        relP->m_next_dstP = survivorP->m_dstRelListP;
        survivorP->m_dstRelListP = relP;
        relP = nextP;
    }
    eP->m_srcRelListP = nullptr;
    eP->m_dstRelListP = nullptr;
    eP->m_visited = 2;
}

// What makes two function entities one: path, line, class and label.
struct SameKey {
    std::string_view path;
    int line;
    CEntityClass* classP;
    std::string_view label;
    bool labelled;
    bool operator==(const SameKey& o) const {
        return line == o.line && classP == o.classP && labelled == o.labelled &&
               label == o.label && path == o.path;
    }
};
struct SameKeyHash {
    size_t operator()(const SameKey& k) const {
        std::hash<std::string_view> h;
        return h(k.path) * 31 + h(k.label) * 7 + static_cast<size_t>(k.line) +
               (reinterpret_cast<uintptr_t>(k.classP) >> 4);
    }
};

} // namespace

int same(CEntityInstance* e1P, CEntityInstance* e2P) {
    return e1P->getEntityClass() == e2P->getEntityClass() &&
           sameLabel(e1P->getLabel(), e2P->getLabel());
}

void consolidate_classes(CEntityClass* classListP) {
    // Each entity is met in class-list and instance-list order. Its path is
    // built when it is met, after the merges before it (a merge can move
    // containment, and so change the path of an entity met later). It is
    // merged into the first survivor with the same path, line, class and
    // label, which is the one the head-first insertion would reach first.
    std::unordered_map<SameKey, CEntityInstance*, SameKeyHash> firsts;
    std::vector<CEntityInstance*> survivors;
    for (CEntityClass* classP = classListP; classP; classP = classP->m_nextP) {
        if (!isFunctionClass(classP->getId()))
            continue;
        for (CEntityInstance* eP = classP->m_entityInstancesP; eP; eP = eP->m_nextInClassP) {
            const char* pathP = eP->m_fullpathP;
            if (pathP == nullptr || (pathP[0] == '.' && pathP[1] == '\0'))
                buildFullPath(eP);
            const char* labelP = eP->getLabel();
            SameKey key{eP->m_fullpathP, eP->m_lineno, eP->getEntityClass(),
                        labelP ? std::string_view(labelP) : std::string_view(), labelP != nullptr};
            auto found = firsts.emplace(key, eP);
            if (found.second)
                survivors.push_back(eP);
            else
                merge(eP, found.first->second);
        }
    }
    firsts = {};

    // Survivors are in meeting order, so a stable sort by path and line puts
    // equal ones in the order the insertion would have left them.
    std::stable_sort(survivors.begin(), survivors.end(),
                     [](CEntityInstance* aP, CEntityInstance* bP) {
                         if (aP->m_fullpathP != bP->m_fullpathP) {
                             int c = strcmp(aP->m_fullpathP, bP->m_fullpathP);
                             if (c != 0)
                                 return c < 0;
                         }
                         return aP->m_lineno < bP->m_lineno;
                     });

    g_headP = nullptr;
    for (size_t i = survivors.size(); i-- > 0;) {
        survivors[i]->m_nextInOrderP = g_headP;
        g_headP = survivors[i];
    }
}

void consolidate() { consolidate_classes(ta.getEntityClass(nullptr)); }

namespace {

const char* textOrNull(const char* textP) { return textP ? textP : "(null)"; }

bool isRoot(CEntityInstance* eP) {
    const char* labelP = eP->getLabel();
    if (labelP == nullptr)
        return false;
    if (labelP[0] == '"')
        ++labelP;
    if (strncmp(labelP, "global ", 7) == 0 || strncmp(labelP, "__static_", 9) == 0)
        return true;
    return (strcmp(labelP, "main") == 0 || strcmp(labelP, "wmain") == 0) &&
           strcmp(eP->getType(), "GF") == 0;
}

// One level of the walk: the entity, its depth and how far its visit got.
struct Frame {
    enum Phase { Address, Uses, Resolve };
    CEntityInstance* eP;
    int depth;
    Phase phase;
    CRelationInstance* cursorP; // the next outgoing relation to look at
    CResolution* resolutionP;
};

void trace(CEntityInstance* eP, int depth) {
    fprintf(stderr, "%p ", static_cast<void*>(eP));
    for (int i = 0; i < depth; ++i)
        fputs("  ", stderr);
    fprintf(stderr, "(%s) %s", eP->getType(), textOrNull(eP->getLabel()));
    if (eP->m_lineno != NO_LINENO)
        fprintf(stderr, " %d", eP->m_lineno);
    if (eP->m_fullpathP)
        fprintf(stderr, ":%s", eP->m_fullpathP);
    fputc('\n', stderr);
}

// Steps 1 to 3 of a visit: the special-name stop, the mark and the trace.
// Returns false when the entity is not entered.
bool enter(CEntityInstance* eP, int depth) {
    const char* mangleP = eP->getAttribute("mangle");
    if (mangleP && mangleP[0] == '_' && mangleP[1] == 'Z' && mangleP[2] == 'T')
        return false;
    eP->m_visited = 1;
    if (g_tree_flag)
        trace(eP, depth);
    return true;
}

} // namespace

void visit(CEntityInstance* startP, int startDepth) {
    if (!enter(startP, startDepth))
        return;
    std::vector<Frame> stack;
    stack.push_back({startP, startDepth, Frame::Address, nullptr, nullptr});
    while (!stack.empty()) {
        Frame& f = stack.back();
        CEntityInstance* nextP = nullptr;
        switch (f.phase) {
        case Frame::Address: {
            f.phase = Frame::Uses;
            f.cursorP = f.eP->m_srcRelListP;
            const char* typeP = f.eP->getType();
            if ((typeP[0] == 'F' || typeP[0] == 'V') && typeP[1] == 'A') {
                CEntityInstance* parentP = f.eP->getParent();
                if (parentP && parentP->m_visited == 0)
                    nextP = parentP;
            }
            break;
        }
        case Frame::Uses:
            while (f.cursorP) {
                CRelationInstance* relP = f.cursorP;
                f.cursorP = relP->m_next_srcP;
                if (isContain(relP->getRelationClass()->getId()))
                    continue;
                if (relP->m_dstP->m_visited == 0) {
                    nextP = relP->m_dstP;
                    break;
                }
            }
            if (nextP == nullptr) {
                f.phase = Frame::Resolve;
                f.resolutionP = handle_polymorphism(f.eP, f.depth);
            }
            break;
        case Frame::Resolve:
            if (f.resolutionP)
                nextP = f.resolutionP->next();
            if (nextP == nullptr) {
                delete f.resolutionP;
                stack.pop_back();
                continue;
            }
            break;
        }
        if (nextP) {
            int depth = f.depth + 1; // f may move when the stack grows
            if (enter(nextP, depth))
                stack.push_back({nextP, depth, Frame::Address, nullptr, nullptr});
        }
    }
}

void depth_search() {
    for (CEntityInstance* eP = g_headP; eP; eP = eP->m_nextInOrderP) {
        if (eP->m_visited == 0 && isRoot(eP))
            visit(eP, 0);
    }
}
