// Reading the sections of a TA file. A body reader that meets two words and
// a colon where a triple or record should begin has met the next header; it
// leaves the two words pending for nextSection and ends its section.
#include "LandscapeTokenStream.h"

#include "EntityCache.h"
#include "EntityClass.h"
#include "EntityInstance.h"
#include "RelationClass.h"
#include "RelationInstance.h"
#include "TaInput.h"
#include "util.h"

#include <strings.h>

CLandscapeTokenStream::CLandscapeTokenStream(CTAInput* taP)
    : m_taInputP(taP), m_entityCacheP(taP->m_entityCacheP), m_token1P(nullptr),
      m_token2P(nullptr), m_ttype3(0), m_startLineno(-1), m_verbP(nullptr), m_objectP(nullptr),
      m_subjectP(nullptr), m_relations(0) {}

void CLandscapeTokenStream::fatal(const char* whatP) {
    fprintf(stderr, "*** Error (%d): %s. Found '%s'\n", m_lineno, whatP, foundText());
    error_exit(1);
}

void CLandscapeTokenStream::pendHeader(const char* word1P, const char* word2P) {
    m_token1P = word1P;
    m_token2P = word2P;
    m_ttype3 = TT_COLON;
}

void CLandscapeTokenStream::recordError(const char* whatP) {
    fprintf(stderr, "*** Error (%d):%s\n", m_lineno, whatP);
    skipRecord();
}

// header := word word ":"
int CLandscapeTokenStream::nextSection() {
    const char* word1P;
    const char* word2P;
    if (m_token1P != nullptr) {
        word1P = m_token1P;
        word2P = m_token2P;
        m_token1P = m_token2P = nullptr;
    } else {
        int t = nextToken();
        if (t == TT_EOF)
            return SECTION_END;
        if (t != TT_WORD)
            fatal("Expecting graph id");
        word1P = m_svalP;
        if (nextToken() != TT_WORD)
            fatal("Expecting section type id");
        word2P = m_svalP;
        if (nextToken() != TT_COLON)
            fatal("Expecting ':'");
    }
    if (strcasecmp(word1P, "SCHEME") == 0) {
        if (strcasecmp(word2P, "TUPLE") == 0)
            return SECTION_SCHEME_TUPLE;
        if (strcasecmp(word2P, "ATTRIBUTE") == 0)
            return SECTION_SCHEME_ATTRIBUTE;
        if (strcasecmp(word2P, "END") == 0)
            return SECTION_END;
        fatal("Bad section type");
    }
    if (strcasecmp(word1P, "FACT") == 0) {
        if (strcasecmp(word2P, "TUPLE") == 0)
            return SECTION_FACT_TUPLE;
        if (strcasecmp(word2P, "ATTRIBUTE") == 0)
            return SECTION_FACT_ATTRIBUTE;
        fatal("Bad section type");
    }
    fatal("Bad section type id");
}

// schema-triple := word operand operand;  operand := word | "(" word ")"
int CLandscapeTokenStream::nextSchemaTriple() {
    m_startLineno = m_lineno;
    int t = nextToken();
    if (t == TT_EOF)
        return 0;
    if (t != TT_WORD)
        fatal("Expecting word verb token");
    m_relations = 0;
    m_verbP = m_svalP;
    t = nextToken();
    if (t == TT_WORD) {
        m_objectP = m_svalP;
    } else if (t == '(' && nextToken() == TT_WORD) {
        m_objectP = m_svalP;
        if (nextToken() != ')')
            fatal("Expecting word object token");
        m_relations |= 1;
    } else {
        fatal("Expecting word object token");
    }
    t = nextToken();
    // Only a plain second word can be the second word of a header.
    if (t == TT_COLON && m_relations == 0) {
        pendHeader(m_verbP, m_objectP);
        return 0;
    }
    if (t == TT_WORD) {
        m_subjectP = m_svalP;
        return 1;
    }
    if (t == '(' && nextToken() == TT_WORD) {
        m_subjectP = m_svalP;
        if (nextToken() != ')')
            fatal("Expecting word subject token");
        m_relations |= 2;
        return 1;
    }
    fatal("Expecting word subject token");
}

// fact-triple := word word word
int CLandscapeTokenStream::nextFactTriple() {
    m_startLineno = m_lineno;
    int t = nextToken();
    if (t == TT_EOF)
        return 0;
    if (t != TT_WORD)
        fatal("Expecting word token");
    m_verbP = m_svalP;
    if (nextToken() != TT_WORD)
        fatal("Expecting word token");
    m_objectP = m_svalP;
    t = nextToken();
    if (t == TT_COLON) {
        pendHeader(m_verbP, m_objectP);
        return 0;
    }
    if (t != TT_WORD)
        fatal("Error in tuple parse");
    m_subjectP = m_svalP;
    return 1;
}

// schema-record := ( word | "(" word ")" ) "{" { assignment } "}"
void CLandscapeTokenStream::processSchemeAttributes() {
    for (;;) {
        m_startLineno = m_lineno;
        int t = nextToken();
        if (t == TT_EOF)
            return;
        CLandscapeObject* targetP = nullptr;
        const char* errorP = nullptr;
        if (t == '(') {
            if (nextToken() != TT_WORD) {
                errorP = "Expected ( <relation class name>";
            } else {
                const char* nameP = m_svalP;
                if (nextToken() != ')')
                    errorP = "Expected ( ... <)>";
                else if (nextToken() != '{')
                    errorP = "Expected (...) <{>";
                else
                    targetP = m_taInputP->addRelationClass(nameP);
            }
        } else if (t == TT_WORD) {
            const char* nameP = m_svalP;
            t = nextToken();
            if (t == '{') {
                targetP = m_taInputP->addEntityClass(nameP);
            } else if (t == TT_WORD) {
                const char* word2P = m_svalP;
                if (nextToken() == TT_COLON) {
                    pendHeader(nameP, word2P);
                    return;
                }
                errorP = "Expecting section header or id <{>";
            } else {
                errorP = "Expecting ... <{>";
            }
        } else {
            errorP = "Expecting object id";
        }
        if (errorP != nullptr)
            recordError(errorP);
        else
            parseAttributes(targetP);
    }
}

// fact-record := ( word | "(" word word word ")" ) "{" { assignment } "}"
void CLandscapeTokenStream::processFactAttributes() {
    for (;;) {
        m_startLineno = m_lineno;
        int t = nextToken();
        if (t == TT_EOF)
            return;
        CLandscapeObject* targetP = nullptr;
        const char* errorP = nullptr;
        if (t == '(') {
            const char* classP = nullptr;
            const char* srcIdP = nullptr;
            const char* dstIdP = nullptr;
            if (nextToken() != TT_WORD) {
                errorP = "Expected ( <class> src dst )";
            } else if (classP = m_svalP, nextToken() != TT_WORD) {
                errorP = "Expected ( token1 <src> dst)";
            } else if (srcIdP = m_svalP, nextToken() != TT_WORD) {
                errorP = "Expected ( token1 token2 <dst>)";
            } else if (dstIdP = m_svalP, nextToken() != ')') {
                errorP = "Expected (token1 token2 token3 <)>";
            } else if (nextToken() != '{') {
                errorP = "Expected (...) <{>";
            } else {
                CRelationClass* rcP = m_taInputP->getRelationClass(classP);
                if (rcP == nullptr)
                    rcP = m_taInputP->addRelationClass(classP);
                CEntityInstance* srcP = m_taInputP->getCache(srcIdP);
                if (srcP == nullptr)
                    srcP = m_taInputP->newCachedEntity(m_taInputP->getEntityBaseClass(), srcIdP);
                CEntityInstance* dstP = m_taInputP->getCache(dstIdP);
                if (dstP == nullptr)
                    dstP = m_taInputP->newCachedEntity(m_taInputP->getEntityBaseClass(), dstIdP);
                CRelationInstance* relP = srcP->getRelationTo(rcP, dstP);
                if (relP == nullptr)
                    relP = new CRelationInstance(rcP, srcP, dstP);
                targetP = relP;
            }
        } else if (t == TT_WORD) {
            const char* idP = m_svalP;
            t = nextToken();
            if (t == '{') {
                CEntityInstance* eP = nullptr;
                if (strcasecmp(idP, "$ROOT") == 0)
                    eP = m_taInputP->getRootInstance();
                if (eP == nullptr)
                    eP = m_taInputP->getCache(idP);
                if (eP == nullptr)
                    eP = m_taInputP->newCachedEntity(m_taInputP->getEntityBaseClass(), idP);
                targetP = eP;
            } else if (t == TT_WORD) {
                const char* word2P = m_svalP;
                if (nextToken() == TT_COLON) {
                    pendHeader(idP, word2P);
                    return;
                }
                errorP = "Expecting section header or id <{>";
            } else {
                errorP = "Expecting token1 <{>";
            }
        } else {
            errorP = "Expecting object id";
        }
        if (errorP != nullptr)
            recordError(errorP);
        else
            parseAttributes(targetP);
    }
}

// assignment := word [ "=" value ]
void CLandscapeTokenStream::parseAttributes(CLandscapeObject* targetP) {
    for (;;) {
        int t = nextToken();
        if (t == '}')
            return;
        if (t != TT_WORD) {
            fprintf(stderr, "*** Error (%d): Expected attribute id:. Found '%s'\n", m_lineno,
                    foundText());
            return;
        }
        const char* idP = m_svalP;
        const char* valueP = nullptr;
        t = nextToken();
        if (t == '=')
            valueP = nextAVI();
        else
            pushBack(t);
        targetP->putAttribute(idP, valueP);
    }
}

void CLandscapeTokenStream::skipRecord() {
    for (;;) {
        int t = nextToken();
        if (t == '}' || t == TT_EOF)
            return;
    }
}
