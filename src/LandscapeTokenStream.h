// The section reader of TA fact files, on top of the tokenizer: it finds the
// section headers, hands the triples of tuple sections one at a time to the
// fact base, which gives them their meaning, and applies the records of the
// attribute sections itself. Errors in headers and triples end the program;
// an error in an attribute record is reported and the record skipped.
#ifndef LOPWORT_LANDSCAPETOKENSTREAM_H
#define LOPWORT_LANDSCAPETOKENSTREAM_H

#include "TAStreamTokenizer.h"

#include <cstdint>
#include <memory>
#include <vector>

class CEntityCache;
class CFactReadAhead;
struct CRawFactBatch;
class CEntityInstance;
class CLandscapeObject;
class CTAInput;

enum sectionE {
    SECTION_SCHEME_TUPLE = 0,
    SECTION_SCHEME_ATTRIBUTE = 1,
    SECTION_FACT_TUPLE = 2,
    SECTION_FACT_ATTRIBUTE = 3,
    SECTION_END = 99
};

// One fact triple read ahead, with the line the reader was on after it.
struct CFactTriple {
    const char* verbP;
    const char* objectP;
    const char* subjectP;
    int lineno;
};

class CLandscapeTokenStream : public CStreamTokenizer {
  public:
    // While a run of fact batches is read ahead, the reader thread works on
    // the tokenizer's fields above and the loading thread writes the fields
    // below (each batch's triples) and the fact base around: they must not
    // share a cache line, or every character read would wait for the line
    // to come back. So a reader starts a line of its own, outside the
    // arena, and a gap parts the two halves.
    static void* operator new(size_t size);
    static void operator delete(void* p);
    char m_apart[128];
    CTAInput* m_taInputP;
    CEntityCache* m_entityCacheP;
    // A header that a section body met as its next record: its two words
    // and the colon after them, taken by the next nextSection.
    const char* m_token1P;
    const char* m_token2P;
    int m_ttype3;
    int m_startLineno;
    const char* m_verbP;
    const char* m_objectP;
    const char* m_subjectP;
    int m_relations; // 1: object in parentheses; 2: subject in parentheses

    explicit CLandscapeTokenStream(CTAInput* taP);

    ~CLandscapeTokenStream();

    int nextSection();
    int nextSchemaTriple();
    int nextFactTriple();
    // Reads up to FACT_BATCH fact triples ahead into m_batch, as that many
    // calls of nextFactTriple would, and returns how many; the words of the
    // whole batch are interned together so that their misses in the string
    // cache overlap. A batch ends early at whatever would end the section or
    // the program; once its triples have been applied, endFactBatch acts on
    // that: it returns 0 when the section has ended (a header may be
    // pending), 1 when more triples may follow, and reports a fatal error as
    // nextFactTriple would have, at the same point of the input. The words
    // are read and hashed ahead on a thread of its own (see
    // LandscapeTokenStream_ahead.h) from the first batch of a run to the
    // last; in between, nothing else may use the tokenizer.
    static const int FACT_BATCH = 32;
    CFactTriple m_batch[FACT_BATCH];
    int nextFactBatch();
    int endFactBatch();
    // The reader thread's halves of nextFactBatch and readFactRecords: the
    // words of the next batch into b, touching nothing but the tokenizer
    // and b.
    void readRawFactBatch(CRawFactBatch& b);
    void readRawRecordBatch(CRawFactBatch& b);
    void processSchemeAttributes();
    void processFactAttributes();
    // Reads a record's assignments up to its "}" into the object; with none,
    // reads and drops them.
    void parseAttributes(CLandscapeObject* targetP);
    void skipRecord();
    int getStartLineno() const { return m_startLineno; }

  private:
    // What ended the last batch: 0 nothing (it is full), 1 the end of the
    // section, or the text of the fatal error to report.
    int m_batchEnd;
    const char* m_batchErrorP;
    std::unique_ptr<CFactReadAhead> m_aheadP; // made for the first batch
    std::vector<const char*> m_interned;       // the words of the batch at hand
    CFactReadAhead& ahead();
    int keepWord(CRawFactBatch& b, int lth);
    void endRawBatch(CRawFactBatch& b);
    // The loading thread's halves: interns the batch's words in order, then
    // applies them.
    void internBatch(CRawFactBatch& b, bool forAttributes);
    int applyRawFactBatch(CRawFactBatch& b);
    int applyRawRecordBatch(CRawFactBatch& b, CEntityInstance** partialPP, const char** idPP,
                            int* tP);

    int readFactRecords(CEntityInstance** partialPP, const char** idPP, int* tP);
    int afterEntityId(const char* idP, int t);
    CEntityInstance* recordEntity(const char* idP);

    const char* foundText() const { return m_svalP ? m_svalP : "(null)"; }
    [[noreturn]] void fatal(const char* whatP);
    void pendHeader(const char* word1P, const char* word2P);
    void recordError(const char* whatP);
};

#endif
