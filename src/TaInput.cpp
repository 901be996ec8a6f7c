// Loading a fact file into the fact base. Class lookups walk the class
// lists, which hold only the classes of a schema; entities are found by id
// through the entity cache. Texts come interned from the tokenizer, so an
// id is usually the very pointer the class was named with.
#include "TaInput.h"

#include "EntityCache.h"
#include "EntityClass.h"
#include "EntityInstance.h"
#include "LandscapeTokenStream.h"
#include "RelationClass.h"
#include "RelationInstance.h"

#include <cstdio>
#include <cstring>
#include <memory>

// Built before main, like every other program-wide table.
CTAInput ta;

namespace {

int sameId(const char* aP, const char* bP) { return aP == bP || strcmp(aP, bP) == 0; }

// The last class found by each lookup, for the id it was asked by: fact
// triples name the same few classes over and over. Forgotten whenever a
// class is made, since a new class with the same id would come first.
struct ClassMemo {
    const CTAInput* ownerP = nullptr;
    const char* idP = nullptr;
    void* classP = nullptr;
};
ClassMemo g_entityClassMemo, g_relationClassMemo;

} // namespace

CTAInput::CTAInput()
    : m_rootInstanceP(nullptr), m_entityClassListP(nullptr), m_entityBaseClassP(nullptr),
      m_relationClassListP(nullptr), m_relationBaseClassP(nullptr), m_entityCacheP(nullptr) {
    m_entityBaseClassP = newEntityClass("$ENTITY");
    m_relationBaseClassP = newRelationClass("$RELATION");
    m_entityCacheP = new CEntityCache();
}

CEntityClass* CTAInput::newEntityClass(const char* idP) {
    g_entityClassMemo = ClassMemo();
    CEntityClass* ecP = new CEntityClass(idP);
    ecP->m_nextP = m_entityClassListP;
    m_entityClassListP = ecP;
    return ecP;
}

CEntityClass* CTAInput::getEntityClass(const char* idP) {
    if (idP == nullptr)
        return m_entityClassListP;
    if (g_entityClassMemo.ownerP == this && g_entityClassMemo.idP == idP) {
        CEntityClass* ecP = static_cast<CEntityClass*>(g_entityClassMemo.classP);
        if (sameId(ecP->getId(), idP)) // the text at idP may have changed
            return ecP;
    }
    for (CEntityClass* ecP = m_entityClassListP; ecP; ecP = ecP->m_nextP) {
        if (sameId(ecP->getId(), idP)) {
            g_entityClassMemo = {this, idP, ecP};
            return ecP;
        }
    }
    return nullptr;
}

CEntityClass* CTAInput::addEntityClass(const char* idP) {
    CEntityClass* ecP = getEntityClass(idP);
    return ecP ? ecP : newEntityClass(idP);
}

CRelationClass* CTAInput::newRelationClass(const char* idP) {
    g_relationClassMemo = ClassMemo();
    CRelationClass* rcP = new CRelationClass(idP);
    rcP->m_nextP = m_relationClassListP;
    m_relationClassListP = rcP;
    return rcP;
}

CRelationClass* CTAInput::getRelationClass(const char* idP) {
    if (idP == nullptr)
        return m_relationClassListP;
    if (g_relationClassMemo.ownerP == this && g_relationClassMemo.idP == idP) {
        CRelationClass* rcP = static_cast<CRelationClass*>(g_relationClassMemo.classP);
        if (sameId(rcP->getId(), idP)) // the text at idP may have changed
            return rcP;
    }
    for (CRelationClass* rcP = m_relationClassListP; rcP; rcP = rcP->m_nextP) {
        if (sameId(rcP->getId(), idP)) {
            g_relationClassMemo = {this, idP, rcP};
            return rcP;
        }
    }
    return nullptr;
}

CRelationClass* CTAInput::addRelationClass(const char* idP) {
    CRelationClass* rcP = getRelationClass(idP);
    return rcP ? rcP : newRelationClass(idP);
}

CEntityInstance* CTAInput::getCache(const char* idP) { return m_entityCacheP->get(idP); }

void CTAInput::putCache(CEntityInstance* eP) { m_entityCacheP->put(eP); }

void CTAInput::createRootInstance() {
    m_rootInstanceP = newCachedEntity(m_entityBaseClassP, "$ROOT");
}

// The base relation may join any two entities.
void CTAInput::setupUniversalScheme() {
    m_relationBaseClassP->addRelationConstraint(m_entityBaseClassP, m_entityBaseClassP);
}

CEntityInstance* CTAInput::newCachedEntity(CEntityClass* ecP, const char* idP) {
    CEntityInstance* eP = ecP->newEntity(idP);
    putCache(eP);
    return eP;
}

// Errors here leave the triple out and loading goes on.
void CTAInput::processSchemeTuples(CLandscapeTokenStream* tsP) {
    while (tsP->nextSchemaTriple()) {
        const char* verbP = tsP->m_verbP;
        const char* objectP = tsP->m_objectP;
        const char* subjectP = tsP->m_subjectP;
        int relations = tsP->m_relations;
        if (strcmp(verbP, "$INHERIT") == 0) {
            // The object inherits from the subject.
            if (relations == 0) {
                if (strcmp(objectP, "$ENTITY") == 0) {
                    fprintf(stderr, "*** Error (%d):%s %s %s: Improper use of $ENTITY with $INHERIT\n",
                            tsP->lineno(), verbP, objectP, subjectP);
                    continue;
                }
                CEntityClass* objectClassP = addEntityClass(objectP);
                objectClassP->setParentClass(addEntityClass(subjectP));
                continue;
            }
            if (relations != 3)
                fprintf(stderr,
                        "*** Error (%d):Mismatched entity/relation with $INHERIT -- presuming "
                        "both relations\n",
                        tsP->lineno());
            if (strcmp(objectP, "$RELATION") == 0) {
                fprintf(stderr, "*** Error (%d):%s %s %s: Improper use of $RELATION with $INHERIT\n",
                        tsP->lineno(), verbP, objectP, subjectP);
                continue;
            }
            CRelationClass* objectClassP = addRelationClass(objectP);
            objectClassP->setParentClass(addRelationClass(subjectP));
            continue;
        }
        if (relations != 0) {
            fprintf(stderr, "*** Error (%d):Cannot create relationships between relationships\n",
                    tsP->lineno());
            continue;
        }
        // A relation declaration: the verb may join these two classes.
        CEntityClass* objectClassP = addEntityClass(objectP);
        CEntityClass* subjectClassP = addEntityClass(subjectP);
        addRelationClass(verbP)->addRelationConstraint(objectClassP, subjectClassP);
    }
}

// Triples come in batches read ahead (see nextFactBatch); each is applied
// as it would be alone, with the line the reader was on after it.
void CTAInput::processFactTuples(CLandscapeTokenStream* tsP) {
    do {
        int n = tsP->nextFactBatch();
        for (int i = 0; i < n; ++i) {
            const CFactTriple& triple = tsP->m_batch[i];
            applyFactTriple(triple.verbP, triple.objectP, triple.subjectP, triple.lineno);
        }
    } while (tsP->endFactBatch());
}

void CTAInput::applyFactTriple(const char* verbP, const char* objectP, const char* subjectP,
                               int lineno) {
    if (strcmp(verbP, "$INSTANCE") == 0) {
        // The object entity is an instance of the subject class.
        CEntityInstance* eP = strcmp(objectP, "$ROOT") == 0 ? m_rootInstanceP : getCache(objectP);
        CEntityClass* ecP = addEntityClass(subjectP);
        if (eP == nullptr) {
            newCachedEntity(ecP, objectP);
            return;
        }
        CLandscapeClassObject* oldP = eP->getParentClass();
        if (oldP == ecP)
            return;
        if (oldP != nullptr && oldP != m_entityBaseClassP)
            fprintf(stderr,
                    ">>> Warning (%d):Redeclaration of %s from instance of %s to instance of "
                    "%s\n",
                    lineno, eP->getId(), oldP->getId(), ecP->getId());
        // The entity stays in the instance list of the class it was made in.
        eP->setParentClass(ecP);
        return;
    }
    CEntityInstance* srcP = getCache(objectP);
    if (srcP == nullptr)
        srcP = newCachedEntity(m_entityBaseClassP, objectP);
    CEntityInstance* dstP = getCache(subjectP);
    if (dstP == nullptr)
        dstP = newCachedEntity(m_entityBaseClassP, subjectP);
    new CRelationInstance(addRelationClass(verbP), srcP, dstP);
}

void CTAInput::attachBaseClasses() {
    if (m_rootInstanceP != nullptr && m_rootInstanceP->getParentClass() == nullptr)
        m_rootInstanceP->setParentClass(m_entityBaseClassP);
    for (CEntityClass* ecP = m_entityClassListP; ecP; ecP = ecP->m_nextP) {
        if (ecP != m_entityBaseClassP && ecP->getParentClass() == nullptr)
            ecP->setParentClass(m_entityBaseClassP);
    }
    for (CRelationClass* rcP = m_relationClassListP; rcP; rcP = rcP->m_nextP) {
        if (rcP != m_relationBaseClassP && rcP->getParentClass() == nullptr)
            rcP->setParentClass(m_relationBaseClassP);
    }
}

// The universal scheme is set up when a schema attribute or fact tuple
// section comes before any schema tuple section.
void CTAInput::parseStream(const char* filenameP) {
    int schemeSetup = 0;
    // The reader's buffers go back when the load ends, however it ends.
    std::unique_ptr<CLandscapeTokenStream> reader(new CLandscapeTokenStream(this));
    CLandscapeTokenStream* tsP = reader.get();
    tsP->open(filenameP);
    for (;;) {
        int section = tsP->nextSection();
        if (section == SECTION_END)
            break;
        switch (section) {
        case SECTION_SCHEME_TUPLE:
            schemeSetup = 1;
            processSchemeTuples(tsP);
            break;
        case SECTION_SCHEME_ATTRIBUTE:
            if (!schemeSetup) {
                schemeSetup = 1;
                setupUniversalScheme();
            }
            tsP->processSchemeAttributes();
            break;
        case SECTION_FACT_TUPLE:
            if (!schemeSetup) {
                schemeSetup = 1;
                setupUniversalScheme();
            }
            processFactTuples(tsP);
            break;
        case SECTION_FACT_ATTRIBUTE:
            tsP->processFactAttributes();
            break;
        }
    }
    tsP->close();
    attachBaseClasses();
}

void CTAInput::loadTA(const char* filenameP) {
    createRootInstance();
    parseStream(filenameP);
    putCache(m_rootInstanceP);
}
