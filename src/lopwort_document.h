// The report as data: the dead functions a run found, gathered while the
// plain report is made, and written as a JSON document or as a SARIF 2.1.0
// log for code-scanning services and editors.
#ifndef LOPWORT_LOPWORT_DOCUMENT_H
#define LOPWORT_LOPWORT_DOCUMENT_H

#include <string>
#include <vector>

class CEntityInstance;

class CReportDocument {
  public:
    // A dead function under the directory, with the status word the plain
    // report gives it and the last line of its extent (0 when unknown).
    void addDead(CEntityInstance* eP, const char* statusP, int endLine);
    // A dead function outside the directory.
    void addSkipped(CEntityInstance* eP);

    // The documents, from what was gathered, the run settings and the
    // summary counters; factsP is the fact file's name, null for standard
    // input.
    std::string json(const char* factsP) const;
    std::string sarif() const;

  private:
    struct Entry {
        CEntityInstance* eP;
        std::string status;
        int endLine;
    };
    std::vector<Entry> m_dead;
    std::vector<CEntityInstance*> m_skipped;
};

// Writes a document to pathP whole (a temporary file beside it, then a
// rename), or to standard output for "-". False, with a message on
// standard error, when it could not be written.
bool write_document(const char* pathP, const std::string& text);

#endif
