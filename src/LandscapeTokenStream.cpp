// Reading the sections of a TA file. A body reader that meets two words and
// a colon where a triple or record should begin has met the next header; it
// leaves the two words pending for nextSection and ends its section.
#include "LandscapeTokenStream.h"

#include "AttributeCache.h"
#include "LandscapeTokenStream_ahead.h"
#include "EntityCache.h"
#include "EntityClass.h"
#include "EntityInstance.h"
#include "RelationClass.h"
#include "RelationInstance.h"
#include "TaInput.h"
#include "stringcache.h"
#include "util.h"
#include "xmalloc.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

CLandscapeTokenStream::CLandscapeTokenStream(CTAInput* taP)
    : m_taInputP(taP), m_entityCacheP(taP->m_entityCacheP), m_token1P(nullptr),
      m_token2P(nullptr), m_ttype3(0), m_startLineno(-1), m_verbP(nullptr), m_objectP(nullptr),
      m_subjectP(nullptr), m_relations(0), m_batchEnd(0), m_batchErrorP(nullptr),
      m_aheadP(nullptr) {}

// Only a process that loads many fact bases destroys a reader; the reader
// thread is stopped first (a member), then the tokenizer goes (the base).
CLandscapeTokenStream::~CLandscapeTokenStream() {}

void* CLandscapeTokenStream::operator new(size_t size) {
    void* p = aligned_alloc(64, (size + 63) & ~size_t(63));
    if (p == nullptr)
        outofmemory();
    return p;
}

void CLandscapeTokenStream::operator delete(void* p) { free(p); }

CFactReadAhead& CLandscapeTokenStream::ahead() {
    if (!m_aheadP) {
        // A slot for every 64 KiB of input, from 64 to 4096 (a few KiB each).
        unsigned slots = 64;
        size_t bytes = inputSize() > 0 ? inputSize() : size_t(64) << 20;
        while (slots < 4096 && (size_t(slots) << 16) < bytes)
            slots *= 2;
        m_aheadP.reset(new CFactReadAhead(this, slots));
    }
    return *m_aheadP;
}

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

// The batch reader of fact triples: nextFactTriple, three words at a time,
// with the words kept raw until the batch is read. Then every word is
// hashed, the string cache is asked for all their slots, and only then are
// they interned in order; the entity behind each is asked for too.
int CLandscapeTokenStream::nextFactBatch() {
    CFactReadAhead& reader = ahead();
    if (!reader.running())
        reader.start(CFactReadAhead::TRIPLES);
    CRawFactBatch& b = reader.take();
    int n = applyRawFactBatch(b);
    reader.release();
    return n;
}

// Keeps the word or value just read (lth bytes) in the batch.
int CLandscapeTokenStream::keepWord(CRawFactBatch& b, int lth) {
    if (b.textSize + static_cast<size_t>(lth) > (1u << 30))
        fail(4, "Out of memory\n");
    return b.keep(rawText(), lth);
}

// Hashes the batch's words, and notes the text the last token would have
// interned.
void CLandscapeTokenStream::endRawBatch(CRawFactBatch& b) {
    for (CRawFactBatch::Word& w : b.words)
        w.hash = cacheHash(b.text.data() + w.offset, static_cast<unsigned>(w.lth));
    b.pendingSvalP = m_pendingSvalP;
}

void CLandscapeTokenStream::readRawFactBatch(CRawFactBatch& b) {
    b.reset();
    auto keep = [&](int lth) { keepWord(b, lth); };
    while (b.nTriples < FACT_BATCH) {
        b.startLineno = m_lineno;
        int lth = 0;
        int t = nextRawToken(&lth);
        if (t == TT_EOF) {
            b.end = 1;
            break;
        }
        if (t != TT_WORD) {
            b.errorP = "Expecting word token";
            break;
        }
        keep(lth);
        if (nextRawToken(&lth) != TT_WORD) {
            b.errorP = "Expecting word token";
            b.words.pop_back();
            break;
        }
        keep(lth);
        t = nextRawToken(&lth);
        if (t == TT_COLON) {
            // The next header: its two words wait for nextSection.
            b.headerWords[0] = b.words[b.words.size() - 2];
            b.headerWords[1] = b.words[b.words.size() - 1];
            b.header = true;
            b.words.resize(b.words.size() - 2);
            b.end = 1;
            break;
        }
        if (t != TT_WORD) {
            b.errorP = "Error in tuple parse";
            b.words.resize(b.words.size() - 2);
            break;
        }
        keep(lth);
        b.lines[b.nTriples++] = m_lineno;
    }
    endRawBatch(b);
}

// What the tokenizer would have printed and a fatal error of the tokenizer,
// then the words interned: every slot asked for before any is read, so that
// the misses overlap, and the entity or attribute behind each asked for too.
void CLandscapeTokenStream::internBatch(CRawFactBatch& b, bool forAttributes) {
    for (const CTokenizerMessage& m : b.messages)
        fputs(m.text.c_str(), m.streamP);
    if (b.failure) {
        try {
            std::rethrow_exception(b.failure);
        } catch (const CTokenizerExit& e) {
            error_exit(e.code);
        } catch (const std::bad_alloc&) {
            outofmemory();
        }
    }
    if (b.last && b.pendingSvalP != nullptr)
        m_svalP = stringCache(b.pendingSvalP);
    const char* textP = b.text.data();
    for (const CRawFactBatch::Word& w : b.words)
        stringCachePrefetch(w.hash);
    for (const CRawFactBatch::Word& w : b.words)
        stringCachePrefetchText(w.hash);
    m_interned.resize(b.words.size());
    for (size_t i = 0; i < b.words.size(); ++i) {
        const CRawFactBatch::Word& w = b.words[i];
        void* userP = nullptr;
        m_interned[i] =
            stringCacheHashed(textP + w.offset, static_cast<unsigned>(w.lth), w.hash, &userP);
        // An entity is filed there as itself (low bit clear): its lists, or
        // its attributes, are what the batch will change.
        if (userP != nullptr && (reinterpret_cast<uintptr_t>(userP) & 1) == 0) {
            CEntityInstance* eP = static_cast<CEntityInstance*>(userP);
            if (forAttributes)
                __builtin_prefetch(&eP->m_attributesP, 1);
            else
                __builtin_prefetch(&eP->m_srcRelListP, 1);
        }
    }
}

int CLandscapeTokenStream::applyRawFactBatch(CRawFactBatch& b) {
    internBatch(b, false);
    m_batchEnd = b.end;
    m_batchErrorP = b.errorP;
    m_startLineno = b.startLineno;
    if (b.header) {
        const char* textP = b.text.data();
        const CRawFactBatch::Word& w1 = b.headerWords[0];
        const CRawFactBatch::Word& w2 = b.headerWords[1];
        const char* word1P = stringCache(textP + w1.offset, static_cast<unsigned>(w1.lth));
        const char* word2P = stringCache(textP + w2.offset, static_cast<unsigned>(w2.lth));
        pendHeader(word1P, word2P);
    }
    int nTriples = b.nTriples;
    for (int i = 0; i < nTriples; ++i)
        m_batch[i] = {m_interned[3 * i], m_interned[3 * i + 1], m_interned[3 * i + 2], b.lines[i]};
    if (nTriples > 0) {
        m_verbP = m_batch[nTriples - 1].verbP;
        m_objectP = m_batch[nTriples - 1].objectP;
        m_subjectP = m_batch[nTriples - 1].subjectP;
    }
    return nTriples;
}

int CLandscapeTokenStream::endFactBatch() {
    if (m_batchErrorP != nullptr)
        fatal(m_batchErrorP);
    return m_batchEnd == 0;
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
        // Plain entity records go through the batch reader; it stops at
        // anything else, where the reader below takes over at that very
        // token, and then the batches go on.
        CEntityInstance* partialP = nullptr;
        const char* idP = nullptr;
        int t = 0;
        switch (readFactRecords(&partialP, &idP, &t)) {
        case 1:
            parseAttributes(partialP);
            continue;
        case 2:
            if (!afterEntityId(idP, t))
                return;
            continue;
        case 3:
            continue;
        default:
            break;
        }
        m_startLineno = m_lineno;
        t = nextToken();
        if (t == TT_EOF)
            return;
        // A relation record's assignments are read into no object: relations
        // keep no attributes.
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
                if (srcP->getRelationTo(rcP, dstP) == nullptr)
                    new CRelationInstance(rcP, srcP, dstP);
            }
        } else if (t == TT_WORD) {
            const char* idP = m_svalP;
            if (!afterEntityId(idP, nextToken()))
                return;
            continue;
        } else {
            errorP = "Expecting object id";
        }
        if (errorP != nullptr)
            recordError(errorP);
        else
            parseAttributes(targetP);
    }
}

// The entity an entity record is for: "$ROOT" in any letter case is the
// root; an id not seen before makes a new entity of the base class.
CEntityInstance* CLandscapeTokenStream::recordEntity(const char* idP) {
    CEntityInstance* eP = nullptr;
    if (strcasecmp(idP, "$ROOT") == 0)
        eP = m_taInputP->getRootInstance();
    if (eP == nullptr)
        eP = m_taInputP->getCache(idP);
    if (eP == nullptr)
        eP = m_taInputP->newCachedEntity(m_taInputP->getEntityBaseClass(), idP);
    return eP;
}

// The rest of an entity record after its id, t being the token after it;
// 0 when that was the next section's header.
int CLandscapeTokenStream::afterEntityId(const char* idP, int t) {
    if (t == '{') {
        parseAttributes(recordEntity(idP));
        return 1;
    }
    if (t == TT_WORD) {
        const char* word2P = m_svalP;
        if (nextToken() == TT_COLON) {
            pendHeader(idP, word2P);
            return 0;
        }
        recordError("Expecting section header or id <{>");
        return 1;
    }
    recordError("Expecting token1 <{>");
    return 1;
}

// fact-record := word "{" { word "=" value } "}", read ahead up to a batch
// of records whose words are then interned together, so that their misses
// in the string cache overlap, and applied in order. Reading stops at the
// first token that is not part of such a record, after applying what came
// before it:
//   0: the token began a record of another kind (or the input ended); it is
//      pushed back for the ordinary reader;
//   1: it came inside a record's block; *partialPP is the record's entity,
//      with the assignments before the token applied, and the token (or the
//      one nextAVI pushed back) waits for parseAttributes;
//   2: it came after a record's id; *idPP is the id and *tP the token;
//   3: no such token yet: the batch was full.
int CLandscapeTokenStream::readFactRecords(CEntityInstance** partialPP, const char** idPP,
                                           int* tP) {
    CFactReadAhead& reader = ahead();
    if (!reader.running())
        reader.start(CFactReadAhead::RECORDS);
    CRawFactBatch& b = reader.take();
    int result = applyRawRecordBatch(b, partialPP, idPP, tP);
    reader.release();
    return result;
}

void CLandscapeTokenStream::readRawRecordBatch(CRawFactBatch& b) {
    const int kRecords = 16;
    b.reset();
    auto keep = [&](int lth) { return keepWord(b, lth); };
    int where = 0, stopWord = -1, stopType = 0;
    bool partial = false;
    while (static_cast<int>(b.records.size()) < kRecords) {
        int lth = 0;
        int t = nextRawToken(&lth);
        if (t != TT_WORD) {
            pushBack(t);
            break;
        }
        int id = keep(lth);
        t = nextRawToken(&lth);
        if (t != '{') {
            where = 2;
            stopType = t;
            if (t == TT_WORD)
                stopWord = keep(lth);
            b.records.push_back({id, static_cast<int>(b.pairs.size()), 0});
            partial = true;
            break;
        }
        b.records.push_back({id, static_cast<int>(b.pairs.size()), 0});
        for (;;) {
            t = nextRawToken(&lth);
            if (t == '}')
                break;
            if (t != TT_WORD) {
                pushBack(t);
                where = 1;
                break;
            }
            int attribute = keep(lth);
            t = nextRawToken(&lth);
            if (t != '=') {
                b.pairs.emplace_back(attribute, -1);
                ++b.records.back()[2];
                where = 1;
                stopType = t;
                if (t == TT_WORD)
                    stopWord = keep(lth);
                else
                    pushBack(t);
                break;
            }
            if (!nextRawAVI(&lth)) {
                b.pairs.emplace_back(attribute, -1);
                ++b.records.back()[2];
                where = 1;
                break;
            }
            b.pairs.emplace_back(attribute, keep(lth));
            ++b.records.back()[2];
        }
        if (where != 0) {
            partial = true;
            break;
        }
    }
    b.where = where;
    b.stopWord = stopWord;
    b.stopType = stopType;
    b.partial = partial;
    b.result = where == 0 && !partial && static_cast<int>(b.records.size()) == kRecords &&
                       !m_pushedBack
                   ? 3 // a full batch: more may follow
                   : where;
    endRawBatch(b);
}

int CLandscapeTokenStream::applyRawRecordBatch(CRawFactBatch& b, CEntityInstance** partialPP,
                                               const char** idPP, int* tP) {
    internBatch(b, true);
    for (const std::pair<int, int>& pair : b.pairs)
        attributeCachePrefetch(m_interned[pair.first],
                               pair.second >= 0 ? m_interned[pair.second] : nullptr);
    for (size_t r = 0; r < b.records.size(); ++r) {
        const std::array<int, 3>& record = b.records[r]; // id, first pair, pairs
        const char* idP = m_interned[record[0]];
        if (r + 1 == b.records.size() && b.where == 2) {
            *idPP = idP;
            break;
        }
        CEntityInstance* eP = recordEntity(idP);
        for (int i = record[1]; i < record[1] + record[2]; ++i) {
            const std::pair<int, int>& pair = b.pairs[i]; // attribute id, value (or -1)
            eP->putAttribute(m_interned[pair.first],
                             pair.second >= 0 ? m_interned[pair.second] : nullptr);
        }
        if (r + 1 == b.records.size() && b.partial)
            *partialPP = eP;
    }
    if (b.stopWord >= 0) {
        // A word read past: as the ordinary reader would have it.
        m_svalP = m_interned[b.stopWord];
        if (b.where == 1)
            pushBack(TT_WORD);
    }
    *tP = b.stopType;
    return b.result;
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
        if (targetP != nullptr)
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
