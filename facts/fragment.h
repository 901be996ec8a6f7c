// A fragment: what lopwort-facts --unit writes for one database entry and
// --merge reads, and what the workers of a whole run hand to its merge. It
// holds the unit's place in the database, its file entity (id, label and
// recorded command), its facts, and the recorded compiler's preprocessed
// text, which the merge scans as lopwort will.
//
// The format, version 2: a first line "lopwort-facts fragment 2"; a record
// "U" with the entry's index, the unit's id, its label and then the words
// of its command (directory, compiler, arguments); a record "K" with the
// key of the text when the step knew one; the fact records of
// unitfacts.h; a record "T" with the size in bytes of the preprocessed text,
// which follows it to the end of the file (0 when there is none). Records
// are lines of tab-separated fields, tab, line feed and backslash escaped.
// A fragment of another version is refused, and one that is cut short is
// recognised as such.
#ifndef LOPWORT_FACTS_FRAGMENT_H
#define LOPWORT_FACTS_FRAGMENT_H

#include "merge.h"
#include "unitfacts.h"

#include <string>

extern const int kFragmentFormat;

struct CFragment {
    size_t m_index = 0; // the entry's place in the database
    CMergedUnit m_unit;
    CUnitFacts m_facts;
    std::string m_path;     // the file it was read from
    long m_textOffset = 0;  // where the preprocessed text begins in it
    long m_textSize = 0;    // 0: no text
    // A key that names the text's content (the unit's cache key, which
    // holds the text), for caching what is learnt from the text; empty when
    // the step had no cache.
    std::string m_textKey;
};

// Writes a fragment whole: into a temporary file beside path, renamed to
// path once complete. records: the unit's fact records; textKey: the key of
// the text, or empty. False, with a message, when it cannot be written.
bool write_fragment(const std::string& path, size_t index, const CMergedUnit& unit,
                    const CRecordSource& records, const std::string& text,
                    const std::string& textKey, std::string& errorR);

// Reads a fragment's records (not its text); with headOnly only as far as
// its unit. False, with a message, for a file that cannot be read, is no
// fragment, is of another version, holds a malformed record or is cut short.
bool read_fragment(const std::string& path, CFragment& fragmentR, std::string& errorR,
                   bool headOnly = false);

// The fragment's file opened and positioned at its text, which runs to the
// end of the file; -1 when there is no text or it cannot be opened.
int open_fragment_text(const std::string& path, long offset, long size);

// A file written through a temporary file beside it and a rename, so that
// it is either as it was or complete.
class CWholeFile {
  public:
    explicit CWholeFile(const std::string& path);
    ~CWholeFile(); // without a commit, the temporary file goes
    CWholeFile(const CWholeFile&) = delete;
    CWholeFile& operator=(const CWholeFile&) = delete;
    // False once anything failed.
    bool write(const std::string& text);
    // Puts the file in place: 0, or the errno of the first failure.
    int commit();

  private:
    std::string m_path, m_tmp;
    int m_fd = -1;
    int m_err = 0;
};

// The same for a text at hand: 0, or the errno of the failure.
int write_whole(const std::string& path, const std::string& text);
// Reads a whole file into one string; false when it cannot be read.
bool read_whole(const std::string& path, std::string& textR);
// A new private directory under $TMPDIR (or /tmp); empty when none can be
// made.
std::string make_work_dir();

#endif
