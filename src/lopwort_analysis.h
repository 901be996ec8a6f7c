// The analysis between loading and the report: consolidation of the function
// entities into one ordered list, and the reachability search from the roots.
#ifndef LOPWORT_LOPWORT_ANALYSIS_H
#define LOPWORT_LOPWORT_ANALYSIS_H

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

// Marks everything reachable from the roots on the ordered list.
void depth_search();
// Reaches eP (not yet marked) and everything it reaches.
void visit(CEntityInstance* eP, int depth);

// A pending virtual-call resolution for one entity: the search asks it for
// the overriders to reach, one at a time. The traced walk visits each (and
// everything it reaches) before asking for the next; the untraced walk
// marks each and asks on.
class CResolution {
  public:
    virtual ~CResolution() {}
    // The next entity to visit at the resolved entity's depth plus one, or
    // null when the resolution is complete. Only unmarked entities are given.
    virtual CEntityInstance* next() = 0;
};

// Starts the virtual-call resolution of an entity whose uses have all been
// walked; null when it reaches nothing.
CResolution* handle_polymorphism(CEntityInstance* function1P, int depth);

#endif
