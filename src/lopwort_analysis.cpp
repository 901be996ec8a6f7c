// Consolidation and the reachability search.
//
// Consolidation finds duplicates through a hash table and sorts the
// survivors by path, line and the order in which they were met, which gives
// the same list, the same ties and the same survivors as inserting each
// entity from the head of the list, without the quadratic cost. The search
// walks with an explicit stack so that call chains of any length work, yet
// marks, traces and resolves in the order of a recursive depth-first walk;
// without a trace it applies the same rules in an order that waits less.
#include "lopwort_analysis.h"

#include "EntityClass.h"
#include "EntityInstance.h"
#include "RelationClass.h"
#include "RelationInstance.h"
#include "TaInput.h"
#include "lopwort.h"
#include "lopwort_virtual.h"
#include "stringcache.h"
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

template <class T> using BigVector = std::vector<T, TableAllocator<T>>;

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

// The functions met so far that no earlier one absorbed, found by what makes
// two of them one: path, line, class and label. Open addressing over indices
// into the survivor list, each slot keeping the key's hash, so that a probe
// reads a survivor only when the hashes agree.
class SurvivorIndex {
  public:
    // Room for `expected` survivors from the start, so that the table is
    // not grown (and held twice) on the way.
    SurvivorIndex(const BigVector<CEntityInstance*>& survivors, size_t expected)
        : m_survivors(survivors), m_slots(slotsFor(expected)), m_count(0) {}

    // The survivor that eP merges into, or null after entering eP as the
    // survivor with index `index`.
    CEntityInstance* findOrAdd(CEntityInstance* eP, uint32_t hash, uint32_t index) {
        size_t mask = m_slots.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& s = m_slots[i];
            if (s.hash == 0) {
                s.hash = hash;
                s.index = index;
                if (++m_count * 4 > m_slots.size() * 3)
                    grow();
                return nullptr;
            }
            if (s.hash == hash) {
                CEntityInstance* lP = m_survivors[s.index];
                if (lP->m_lineno == eP->m_lineno && same(eP, lP) &&
                    (lP->m_fullpathP == eP->m_fullpathP ||
                     strcmp(lP->m_fullpathP, eP->m_fullpathP) == 0))
                    return lP;
            }
        }
    }

  private:
    struct Slot {
        uint32_t hash = 0; // 0 for an empty slot
        uint32_t index = 0;
    };
    const BigVector<CEntityInstance*>& m_survivors;
    BigVector<Slot> m_slots;
    size_t m_count;

    static size_t slotsFor(size_t expected) {
        size_t n = 1024;
        while (n / 4 * 3 < expected)
            n *= 2;
        return n;
    }

    void grow() {
        BigVector<Slot> slots(m_slots.size() * 2);
        size_t mask = slots.size() - 1;
        for (const Slot& s : m_slots) {
            if (s.hash == 0)
                continue;
            size_t i = s.hash & mask;
            while (slots[i].hash != 0)
                i = (i + 1) & mask;
            slots[i] = s;
        }
        m_slots.swap(slots);
    }
};

// The hash of an entity's identity for the survivor index. Paths repeat from
// one entity to the next (a file's functions are met together), so the last
// path's hash is kept.
struct IdentityHasher {
    const char* lastPathP = nullptr;
    uint32_t lastPathHash = 0;

    uint32_t operator()(CEntityInstance* eP) {
        if (eP->m_fullpathP != lastPathP) {
            lastPathP = eP->m_fullpathP;
            lastPathHash = cacheHash(lastPathP);
        }
        const char* labelP = eP->getLabel();
        uint64_t h = lastPathHash;
        h = h * 0x9e3779b97f4a7c15ull + static_cast<uint32_t>(eP->m_lineno);
        h = h * 0x9e3779b97f4a7c15ull + (labelP ? cacheHash(labelP) : 0u);
        h = h * 0x9e3779b97f4a7c15ull + (reinterpret_cast<uintptr_t>(eP->getEntityClass()) >> 4);
        h ^= h >> 32;
        uint32_t r = static_cast<uint32_t>(h);
        return r != 0 ? r : 1;
    }
};

// One survivor's place in the ordered list: its path's rank among the
// paths in byte order, its line, and the order in which it was met, which
// is also its index in the survivor list.
struct Place {
    uint32_t pathRank;
    int line;
    uint32_t met;
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
    // Every function may survive: room for all of them at once, since a
    // vector that doubles holds both copies for a moment.
    size_t functions = 0;
    for (CEntityClass* classP = classListP; classP; classP = classP->m_nextP) {
        if (isFunctionClass(classP->getId()))
            functions += classP->m_instances;
    }
    BigVector<CEntityInstance*> survivors;
    survivors.reserve(functions);
    {
        SurvivorIndex index(survivors, functions);
        IdentityHasher hasher;
        for (CEntityClass* classP = classListP; classP; classP = classP->m_nextP) {
            if (!isFunctionClass(classP->getId()))
                continue;
            for (CEntityInstance* eP = classP->m_entityInstancesP; eP; eP = eP->m_nextInClassP) {
                // The next entity's label is hashed next, and is usually a miss.
                if (eP->m_nextInClassP != nullptr && eP->m_nextInClassP->getLabel() != nullptr)
                    __builtin_prefetch(eP->m_nextInClassP->getLabel());
                const char* pathP = eP->m_fullpathP;
                if (pathP == nullptr || (pathP[0] == '.' && pathP[1] == '\0'))
                    buildFullPath(eP);
                uint32_t met = static_cast<uint32_t>(survivors.size());
                CEntityInstance* survivorP = index.findOrAdd(eP, hasher(eP), met);
                if (survivorP != nullptr) {
                    merge(eP, survivorP);
                    continue;
                }
                survivors.push_back(eP);
            }
        }
    }

    // The places are made once the index is gone (the two are the largest
    // things consolidation makes, and the peak of a run is here). A
    // survivor's path and line do not change after it is met.
    BigVector<Place> places;
    places.reserve(survivors.size());
    {
        // Survivors with one path pointer share a run; most paths are one
        // interned text, so there are about as many runs as files.
        std::unordered_map<const char*, uint32_t> runOfPath;
        const char* lastPathP = nullptr;
        uint32_t lastRun = 0;
        for (uint32_t met = 0; met < survivors.size(); ++met) {
            CEntityInstance* eP = survivors[met];
            if (eP->m_fullpathP != lastPathP || places.empty()) {
                lastPathP = eP->m_fullpathP;
                lastRun = runOfPath.emplace(lastPathP, static_cast<uint32_t>(runOfPath.size()))
                              .first->second;
            }
            places.push_back({lastRun, eP->m_lineno, met});
        }

        // Rank the distinct paths in byte order; equal texts share a rank.
        std::vector<const char*> paths(runOfPath.size());
        for (const auto& run : runOfPath)
            paths[run.second] = run.first;
        std::vector<uint32_t> byText(paths.size());
        for (uint32_t i = 0; i < byText.size(); ++i)
            byText[i] = i;
        std::sort(byText.begin(), byText.end(), [&paths](uint32_t a, uint32_t b) {
            return strcmp(paths[a], paths[b]) < 0;
        });
        std::vector<uint32_t> rank(paths.size());
        for (uint32_t i = 0, r = 0; i < byText.size(); ++i) {
            if (i > 0 && strcmp(paths[byText[i - 1]], paths[byText[i]]) != 0)
                ++r;
            rank[byText[i]] = r;
        }
        for (Place& p : places)
            p.pathRank = rank[p.pathRank];
    }

    // By path, then line; equal ones in the order met, as the insertion
    // would have left them.
    std::sort(places.begin(), places.end(), [](const Place& a, const Place& b) {
        if (a.pathRank != b.pathRank)
            return a.pathRank < b.pathRank;
        if (a.line != b.line)
            return a.line < b.line;
        return a.met < b.met;
    });

    g_headP = nullptr;
    for (size_t i = places.size(); i-- > 0;) {
        if (i >= 8)
            __builtin_prefetch(&survivors[places[i - 8].met]->m_nextInOrderP, 1);
        CEntityInstance* eP = survivors[places[i].met];
        eP->m_nextInOrderP = g_headP;
        g_headP = eP;
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

// One level of the depth-first walk: the entity, its depth and how far its
// visit got.
struct Frame {
    enum Phase { Address, Uses, Resolve };
    CEntityInstance* eP;
    int depth;
    Phase phase;
    CRelationInstance* cursorP; // the next outgoing relation to look at
    CResolution* resolutionP;
};

void trace(FILE* traceP, CEntityInstance* eP, int depth) {
    fprintf(traceP, "%p ", static_cast<void*>(eP));
    for (int i = 0; i < depth; ++i)
        fputs("  ", traceP);
    fprintf(traceP, "(%s) %s", eP->getType(), textOrNull(eP->getLabel()));
    if (eP->m_lineno != NO_LINENO)
        fprintf(traceP, " %d", eP->m_lineno);
    if (eP->m_fullpathP)
        fprintf(traceP, ":%s", eP->m_fullpathP);
    fputc('\n', traceP);
}

// Marks an entity the walk may enter; true when it was not marked before.
bool reach(CEntityInstance* eP) {
    if (eP->m_visited != 0 || eP->m_specialMangle) // a "mangle" beginning with "_ZT"
        return false;
    eP->m_visited = 1;
    return true;
}

// An entity's uses were read together, so its relations usually lie one
// below the other under the newest: ask for those lines before the list
// leads there one by one.
void prefetchRelations(CRelationInstance* newestP) {
    if (newestP == nullptr)
        return;
    uintptr_t at = reinterpret_cast<uintptr_t>(newestP);
    for (int k = 0; k <= 4; ++k)
        __builtin_prefetch(reinterpret_cast<const void*>(at - 64 * k));
}

// Asks for what the walk reads of an entity it meets: its mark, and its uses
// as soon as it enters it (the entity's lines split anywhere).
void prefetchEntity(CEntityInstance* eP) {
    __builtin_prefetch(&eP->m_visited);
    __builtin_prefetch(&eP->m_srcRelListP);
}

// The first use from relP on: the search follows every relation but
// containment, which it never walks downwards.
CRelationInstance* firstUse(CRelationInstance* relP) {
    while (relP && isContain(relP->getRelationClass()->getId()))
        relP = relP->m_next_srcP;
    return relP;
}

// The entity a function or variable address ("FA", "VA") belongs to, which
// reaching the address reaches too; null for anything else.
CEntityInstance* ownerOfAddress(CEntityInstance* eP) {
    const char* typeP = eP->getType();
    if ((typeP[0] == 'F' || typeP[0] == 'V') && typeP[1] == 'A')
        return eP->getParent();
    return nullptr;
}

} // namespace

CSearch::CSearch(CEntityClass* classListP, FILE* traceP)
    : m_resolverP(new CResolver(classListP)), m_traceP(traceP) {}

CSearch::~CSearch() {}

// The special-name stop, the mark and the trace line.
bool CSearch::enter(CEntityInstance* eP, int depth) {
    if (!reach(eP))
        return false;
    if (m_traceP)
        trace(m_traceP, eP, depth);
    return true;
}

void CSearch::visit(CEntityInstance* startP, int startDepth) {
    if (!enter(startP, startDepth))
        return;
    BigVector<Frame> stack;
    stack.push_back({startP, startDepth, Frame::Address, nullptr, nullptr});
    while (!stack.empty()) {
        Frame& f = stack.back();
        CEntityInstance* nextP = nullptr;
        switch (f.phase) {
        case Frame::Address: {
            f.phase = Frame::Uses;
            // The destinations' marks are read one after another below, and
            // each is usually a miss: ask for the first few at once.
            prefetchRelations(f.eP->m_srcRelListP);
            f.cursorP = firstUse(f.eP->m_srcRelListP);
            {
                CRelationInstance* relP = f.cursorP;
                for (int i = 0; relP && i < 16; ++i, relP = relP->m_next_srcP)
                    prefetchEntity(relP->m_dstP);
            }
            CEntityInstance* ownerP = ownerOfAddress(f.eP);
            if (ownerP && ownerP->m_visited == 0)
                nextP = ownerP;
            break;
        }
        case Frame::Uses:
            while (f.cursorP) {
                CRelationInstance* relP = f.cursorP;
                f.cursorP = firstUse(relP->m_next_srcP);
                if (relP->m_dstP->m_visited == 0) {
                    nextP = relP->m_dstP;
                    break;
                }
            }
            if (nextP == nullptr) {
                f.phase = Frame::Resolve;
                f.resolutionP = m_resolverP->handle_polymorphism(f.eP);
            }
            break;
        case Frame::Resolve:
            if (f.resolutionP)
                nextP = f.resolutionP->next();
            if (nextP == nullptr) {
                m_resolverP->release(f.resolutionP);
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

// The marks of visit() without its order. A depth-first walk waits for the
// lines of each entity, its relations and the entities they lead to one
// after another; this walk marks what it finds at once, keeps it on a
// stack, and takes it a group at a time, asking for the lines of the whole
// group together. Every entity it marks gets what visit() gives it: its
// owner if it is an address, its uses, and its whole resolution.
//
// kBreadth makes the stack a queue and applies the rules to one entity of
// the group after another, so that entities are reached level by level from
// the roots: the step noted for each then ends a shortest chain.
template <bool kBreadth>
void CSearch::reachAll(const std::vector<CEntityInstance*>& roots, CReachRecord* recordP) {
    const size_t kGroup = 32;
    CEntityInstance* group[kGroup];
    BigVector<CEntityInstance*> stack; // a queue from head on, breadth first
    size_t head = 0;
    struct Found {
        CEntityInstance* eP;
        CEntityInstance* fromP;
        CRelationInstance* relP; // null for an address's owner
    };
    BigVector<Found> found;
    auto reachFrom = [&](CEntityInstance* eP, const CReachStep& step) {
        if (!reach(eP))
            return;
        stack.push_back(eP);
        if (recordP != nullptr)
            recordP->note(eP, step);
    };
    for (CEntityInstance* rootP : roots)
        reachFrom(rootP, CReachStep());
    // What the entity leads to: its owner if it is an address, its uses.
    auto collect = [&](CEntityInstance* eP) {
        if (CEntityInstance* ownerP = ownerOfAddress(eP))
            found.push_back({ownerP, eP, nullptr});
        for (CRelationInstance* relP = firstUse(eP->m_srcRelListP); relP;
             relP = firstUse(relP->m_next_srcP)) {
            prefetchEntity(relP->m_dstP);
            found.push_back({relP->m_dstP, eP, relP});
        }
    };
    // The first found is entered first, as the ordered walk would: on top
    // of the stack, at the front of the queue.
    auto reachFound = [&] {
        for (size_t k = 0; k < found.size(); ++k) {
            const Found& f = found[kBreadth ? k : found.size() - 1 - k];
            CReachStep step;
            step.kind = f.relP ? CReachStep::Use : CReachStep::Address;
            step.fromP = f.fromP;
            step.relP = f.relP;
            reachFrom(f.eP, step);
        }
        found.clear();
    };
    auto resolve = [&](CEntityInstance* eP) {
        if (CResolution* resolutionP = m_resolverP->handle_polymorphism(eP)) {
            while (CEntityInstance* overriderP = resolutionP->next()) {
                CReachStep step;
                step.kind = CReachStep::Virtual;
                step.fromP = eP;
                step.tableP = resolutionP->table();
                reachFrom(overriderP, step);
            }
            m_resolverP->release(resolutionP);
        }
    };
    while (head < stack.size()) {
        size_t n = 0;
        for (; n < kGroup && head < stack.size(); ++n) {
            if (kBreadth) {
                group[n] = stack[head++];
            } else {
                group[n] = stack.back();
                stack.pop_back();
            }
            __builtin_prefetch(&group[n]->m_srcRelListP);
        }
        for (size_t i = 0; i < n; ++i)
            prefetchRelations(group[i]->m_srcRelListP);
        if (kBreadth) {
            for (size_t i = 0; i < n; ++i) {
                collect(group[i]);
                reachFound();
                resolve(group[i]);
            }
        } else {
            for (size_t i = 0; i < n; ++i)
                collect(group[i]);
            reachFound();
            for (size_t i = 0; i < n; ++i)
                resolve(group[i]);
        }
    }
}

void CSearch::run(Order order, CReachRecord* recordP) {
    if (order == Depth_first) {
        for (CEntityInstance* eP = g_headP; eP; eP = eP->m_nextInOrderP) {
            if (eP->m_visited == 0 && isRoot(eP))
                visit(eP, 0);
        }
        return;
    }
    std::vector<CEntityInstance*> roots;
    for (CEntityInstance* eP = g_headP; eP; eP = eP->m_nextInOrderP) {
        if (eP->m_visited == 0 && isRoot(eP))
            roots.push_back(eP);
    }
    if (order == Breadth_first)
        reachAll<true>(roots, recordP);
    else
        reachAll<false>(roots, nullptr);
}

void depth_search(CReachRecord* recordP) {
    CEntityClass* classesP = ta.getEntityClass(nullptr);
    if (recordP == nullptr || g_tree_flag) {
        CSearch search(classesP, g_tree_flag ? stderr : nullptr);
        search.run(g_tree_flag ? CSearch::Depth_first : CSearch::Grouped);
    }
    if (recordP == nullptr)
        return;
    if (g_tree_flag) {
        // The traced walk's tree is not made of shortest chains: its marks
        // go, and the breadth-first search sets the same ones again.
        for (CEntityClass* classP = classesP; classP; classP = classP->m_nextP)
            for (CEntityInstance* eP = classP->m_entityInstancesP; eP; eP = eP->m_nextInClassP)
                if (eP->m_visited == 1)
                    eP->m_visited = 0;
    }
    CSearch(classesP, nullptr).run(CSearch::Breadth_first, recordP);
}
