// The fact base: the schema (entity and relation classes, with the base
// classes $ENTITY and $RELATION), the root entity $ROOT and the entity
// cache, and the loading of one TA fact file into them, which gives the
// schema and fact triples and the verbs $INHERIT and $INSTANCE their
// meaning. The program keeps one fact base, the global `ta`.
#ifndef LOPWORT_TAINPUT_H
#define LOPWORT_TAINPUT_H

#include "LandscapeObject.h"

class CEntityCache;
class CEntityClass;
class CEntityInstance;
class CLandscapeTokenStream;
class CRelationClass;

class CTAInput : public Cobject {
  public:
    CEntityInstance* m_rootInstanceP;
    CEntityClass* m_entityClassListP; // newest first, ends with $ENTITY
    CEntityClass* m_entityBaseClassP;
    CRelationClass* m_relationClassListP; // newest first, ends with $RELATION
    CRelationClass* m_relationBaseClassP;
    CEntityCache* m_entityCacheP;

    CTAInput();

    CEntityClass* newEntityClass(const char* idP);
    // A null id gives the newest entity class.
    CEntityClass* getEntityClass(const char* idP);
    CEntityClass* addEntityClass(const char* idP);
    CRelationClass* newRelationClass(const char* idP);
    CRelationClass* getRelationClass(const char* idP);
    CRelationClass* addRelationClass(const char* idP);

    CEntityClass* getEntityBaseClass() const { return m_entityBaseClassP; }
    CRelationClass* getRelationBaseClass() const { return m_relationBaseClassP; }
    CEntityInstance* getRootInstance() const { return m_rootInstanceP; }

    CEntityInstance* getCache(const char* idP);
    void putCache(CEntityInstance* eP);
    void createRootInstance();
    void setupUniversalScheme();
    CEntityInstance* newCachedEntity(CEntityClass* ecP, const char* idP);

    void processSchemeTuples(CLandscapeTokenStream* tsP);
    void processFactTuples(CLandscapeTokenStream* tsP);
    void attachBaseClasses();
    void parseStream(const char* filenameP);
    // Loads one fact file; a null or empty name reads standard input.
    void loadTA(const char* filenameP);
};

extern CTAInput ta;

#endif
