// The analysis between loading and the report: consolidation of the function
// entities into one ordered list, and the reachability search from the roots.
#ifndef LOPWORT_LOPWORT_ANALYSIS_H
#define LOPWORT_LOPWORT_ANALYSIS_H

#include <cstdio>
#include <memory>

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

// One reachability search. The marks it sets live in the entities
// (m_visited: 0 unreached, 1 reached, 2 merged away); what it learns besides,
// the virtual-call resolver's tables, lives here and ends with the search.
class CSearch {
  public:
    // The two ways of computing the marks: in the order of a recursive
    // depth-first walk, which a trace shows, or a group at a time, which
    // waits less for memory. Both apply the same rules to every entity
    // reached, so both reach the same entities.
    enum Order { Depth_first, Grouped };

    // classListP: the classes whose tables resolution may look up by class
    // name. traceP: where the depth-first walk prints its tree, or null.
    CSearch(CEntityClass* classListP, FILE* traceP);
    ~CSearch();
    CSearch(const CSearch&) = delete;
    CSearch& operator=(const CSearch&) = delete;

    // Marks everything reachable from the roots on the ordered list.
    void run(Order order);
    // Reaches eP (not yet marked) and everything it reaches, depth first.
    void visit(CEntityInstance* eP, int depth);

  private:
    std::unique_ptr<CResolver> m_resolverP;
    FILE* m_traceP;

    bool enter(CEntityInstance* eP, int depth);
    void reachAll(CEntityInstance* rootP);
};

// Marks everything reachable from the roots of the loaded fact base, depth
// first and traced on standard error with -T, a group at a time without.
void depth_search();

#endif
