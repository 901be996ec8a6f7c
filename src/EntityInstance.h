// One entity fact: a function, variable, file, table... with its outgoing and
// incoming relation lists (newest first) and the fields the analysis uses.
#ifndef LOPWORT_ENTITYINSTANCE_H
#define LOPWORT_ENTITYINSTANCE_H

#include "LandscapeObject3D.h"

class CEntityClass;
class CRelationClass;
class CRelationInstance;

// The line of an entity the facts give no line for.
const int NO_LINENO = 2147483647;

class CEntityInstance : public CLandscapeObject3D {
  public:
    CRelationInstance* m_srcRelListP;
    CRelationInstance* m_dstRelListP;
    CEntityInstance* m_nextInClassP;
    CEntityInstance* m_nextInOrderP;
    const char* m_fullpathP;
    // The small fields last, together, so that they share one word: a large
    // fact base holds millions of entities.
    int m_lineno;
    unsigned char m_visited; // 0 unreached, 1 reached, 2 merged away
    // Whether the newest "mangle" begins with "_ZT" (virtual tables, type
    // information), where the search stops: kept by putAttribute so that the
    // search need not walk the attribute list of every entity it reaches.
    unsigned char m_specialMangle;

    CEntityInstance(CEntityClass* ecP, const char* idP);
    void putAttribute(const char* idP, const char* valueP) override;
    CEntityClass* getEntityClass() const;
    const char* getClassLabel();
    CRelationInstance* getSrcRelList() const { return m_srcRelListP; }
    CRelationInstance* getDstRelList() const { return m_dstRelListP; }
    CEntityInstance* getParent() const;
    CRelationInstance* getRelationTo(CRelationClass* rcP, CEntityInstance* dstP);
    // Writes (load != 0) or only measures the "/"-joined labels of the
    // containers, outermost first, advancing *bufferPP past them. Returns 0,
    // touching nothing, when the entity has no container.
    int buildPath(char** bufferPP, int load);
};

// True when a relation class id is "contain".
int isContain(const char* idP);

#endif
