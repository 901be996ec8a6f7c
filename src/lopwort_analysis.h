// The analysis between loading and the report: consolidation of the function
// entities into one ordered list, and the reachability search from the roots.
#ifndef LOPWORT_LOPWORT_ANALYSIS_H
#define LOPWORT_LOPWORT_ANALYSIS_H

#include <cstdio>
#include <memory>
#include <unordered_map>
#include <vector>

class CEntityClass;
class CEntityInstance;

// Head of the ordered function list (by path, then line), linked through
// m_nextInOrderP; null while empty.
extern CEntityInstance* g_headP;

// Nonzero when both have the same entity class and equal labels. Two
// unlabelled entities count as equal; a labelled and an unlabelled do not.
int same(CEntityInstance* e1P, CEntityInstance* e2P);

// Builds the ordered list from the function classes ("GF", "LF", "VF") found
// by walking the class list from classListP, merging duplicates.
void consolidate_classes(CEntityClass* classListP);

// The same for the classes of the loaded fact base.
void consolidate();

class CResolver;
class CRelationInstance;

// How the search came to an entity. Followed back from any reached entity,
// the steps of a breadth-first search make one shortest chain from a root.
struct CReachStep {
    enum Kind { Root, Use, Address, Virtual };
    Kind kind = Root;
    CEntityInstance* fromP = nullptr;  // what it was reached from; null for a root
    CRelationInstance* relP = nullptr; // Use: the relation followed
    CEntityInstance* tableP = nullptr; // Virtual: the table whose slot held it
};

// The step that first reached each entity, kept by a search that is asked
// to (only --why asks: it costs memory for every entity reached).
class CReachRecord {
  public:
    void note(CEntityInstance* eP, const CReachStep& step) { m_steps.emplace(eP, step); }
    // Null for an entity the search did not reach.
    const CReachStep* stepTo(CEntityInstance* eP) const {
        auto it = m_steps.find(eP);
        return it == m_steps.end() ? nullptr : &it->second;
    }

  private:
    std::unordered_map<CEntityInstance*, CReachStep> m_steps;
};

// One reachability search. The marks it sets live in the entities
// (m_visited: 0 unreached, 1 reached, 2 merged away); what it learns besides,
// the virtual-call resolver's tables, lives here and ends with the search.
class CSearch {
  public:
    // The ways of computing the marks: in the order of a recursive
    // depth-first walk, which a trace shows; a group at a time, which waits
    // less for memory; or breadth first, level by level from all the roots,
    // which finds the shortest chains. All apply the same rules to every
    // entity reached, so all reach the same entities.
    enum Order { Depth_first, Grouped, Breadth_first };

    // classListP: the classes whose tables resolution may look up by class
    // name. traceP: where the depth-first walk prints its tree, or null.
    CSearch(CEntityClass* classListP, FILE* traceP);
    ~CSearch();
    CSearch(const CSearch&) = delete;
    CSearch& operator=(const CSearch&) = delete;

    // Marks everything reachable from the roots on the ordered list. A
    // breadth-first search notes in recordP (when given) how it reached each
    // entity.
    void run(Order order, CReachRecord* recordP = nullptr);
    // Reaches eP (not yet marked) and everything it reaches, depth first.
    void visit(CEntityInstance* eP, int depth);

  private:
    std::unique_ptr<CResolver> m_resolverP;
    FILE* m_traceP;

    bool enter(CEntityInstance* eP, int depth);
    template <bool kBreadth>
    void reachAll(const std::vector<CEntityInstance*>& roots, CReachRecord* recordP);
};

// Marks everything reachable from the roots of the loaded fact base, depth
// first and traced on standard error with -T, a group at a time without.
// With recordP the marks come from a breadth-first search that notes its
// steps there (after the traced walk, when -T asks for one).
void depth_search(CReachRecord* recordP = nullptr);

#endif
