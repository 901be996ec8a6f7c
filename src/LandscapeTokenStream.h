// The section reader of TA fact files, on top of the tokenizer: it finds the
// section headers, hands the triples of tuple sections one at a time to the
// fact base, which gives them their meaning, and applies the records of the
// attribute sections itself. Errors in headers and triples end the program;
// an error in an attribute record is reported and the record skipped.
#ifndef LOPWORT_LANDSCAPETOKENSTREAM_H
#define LOPWORT_LANDSCAPETOKENSTREAM_H

#include "TAStreamTokenizer.h"

class CEntityCache;
class CLandscapeObject;
class CTAInput;

enum sectionE {
    SECTION_SCHEME_TUPLE = 0,
    SECTION_SCHEME_ATTRIBUTE = 1,
    SECTION_FACT_TUPLE = 2,
    SECTION_FACT_ATTRIBUTE = 3,
    SECTION_END = 99
};

class CLandscapeTokenStream : public CStreamTokenizer {
  public:
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

    int nextSection();
    int nextSchemaTriple();
    int nextFactTriple();
    void processSchemeAttributes();
    void processFactAttributes();
    void parseAttributes(CLandscapeObject* targetP);
    void skipRecord();
    int getStartLineno() const { return m_startLineno; }

  private:
    const char* foundText() const { return m_svalP ? m_svalP : "(null)"; }
    [[noreturn]] void fatal(const char* whatP);
    void pendHeader(const char* word1P, const char* word2P);
    void recordError(const char* whatP);
};

#endif
