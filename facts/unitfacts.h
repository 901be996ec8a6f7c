// The facts of one translation unit, as the worker that parsed it hands them
// to the merge. Workers run in child processes or on other machines, so the
// facts travel through a file (a fragment) in a small line format; ids are
// already global (mangled names, or unit-qualified ids for internal
// linkage), so the merge only has to unite records and choose one spelling
// and one container per function.
#ifndef LOPWORT_FACTS_UNITFACTS_H
#define LOPWORT_FACTS_UNITFACTS_H

#include "relations.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct CFactEntity {
    std::string m_id;
    std::string m_class; // "GF", "LF", "VF", "FA", "V", "TV", "TI", "VA", "VS", "T"
    std::string m_label;
    std::string m_mangle;      // empty when the entity has none
    std::string m_file;        // real path of the source file; empty when none
    int m_line = 0;            // first line of the declaration, 0 when none
    int m_endLine = 0;         // last line of the definition, 0 when none
    bool m_defined = false;    // this unit holds the definition
    bool m_exported = false;   // declared in a header under an --exported directory
    // Written by a macro invocation that writes other declarations too: no
    // guard can take it out alone.
    bool m_inMacroLine = false;
    std::string m_templateKey; // id of the "T" entity it was made from, if any
    // Where the definition's text begins, template header included, and its
    // column when nothing but blanks precedes it on its line (else 0).
    int m_textLine = 0;
    int m_textColumn = 0;

    bool is_function() const { return is_function_class(m_class); }
    static bool is_function_class(std::string_view cls) {
        return cls == "GF" || cls == "LF" || cls == "VF";
    }
};

struct CUnitFacts {
    // Spelling of each file's name in the recorded compiler's line markers,
    // made absolute as lopwort makes it, keyed by the file's real path.
    std::map<std::string, std::string> m_spellings;
    std::map<std::string, CFactEntity> m_entities;
    CRelationSet m_relations;
    std::vector<std::string> m_warnings;
    // The slots entities ("VS:") of the classes whose objects the unit makes.
    std::set<std::string> m_built;
    // A unit that did not parse: its first error, and what it could use:
    // the real paths of the files it includes and every name it spells.
    std::string m_failure;
    std::set<std::string> m_files;
    std::set<std::string> m_names;

    // Adds an entity, or upgrades the one there with a definition.
    CFactEntity& add_entity(const CFactEntity& e);
    void add_relation(const std::string& verb, const std::string& src, const std::string& dst) {
        m_relations.add(verb, src, dst);
    }
};

// Receives records piece by piece.
using CRecordSink = std::function<void(const std::string&)>;
// Something that writes records to a sink: facts, or records kept as text.
using CRecordSource = std::function<void(const CRecordSink&)>;

// The facts as records, one a line: a kind letter, then tab-separated fields
// with tab, line feed and backslash escaped. They go to the sink in pieces
// of some tens of kilobytes: a large unit's records run to a hundred
// megabytes, which the worker should not hold beside its facts.
void unit_facts_records(const CUnitFacts& facts, const CRecordSink& sink);
// The records that a text holds already.
CRecordSource records_of_text(const std::string& records);
// The records of facts.
CRecordSource records_of_facts(const CUnitFacts& facts);
// The fields of one record line (its kind letter first), and one field as
// a record holds it (the tab before it included).
std::vector<std::string> record_fields(const std::string& line);
std::string record_field(const std::string& value);
// Reads the records of one unit, in order, into its facts: a relation
// refers to names by the numbers that the records of names before it gave.
class CRecordReader {
  public:
    explicit CRecordReader(CUnitFacts& factsR) : m_facts(factsR) {}
    // Adds the record whose fields are given; false for a record of no
    // known kind, with the wrong number of fields, or naming a name not
    // given.
    bool read(const std::vector<std::string>& fields);

  private:
    CUnitFacts& m_facts;
    std::vector<uint32_t> m_names; // the relation set's number of each name read
};

#endif
