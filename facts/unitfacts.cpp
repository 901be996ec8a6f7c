// The line format between a worker and the merge: one record a line, fields
// separated by tabs, with tab, line feed and backslash escaped. Nothing but
// this program reads it, so it favours being simple over being compact.
#include "unitfacts.h"

#include <array>
#include <cstdint>
#include <cstdlib>

CFactEntity& CUnitFacts::add_entity(const CFactEntity& e) {
    auto it = m_entities.find(e.m_id);
    if (it == m_entities.end())
        return m_entities.emplace(e.m_id, e).first->second;
    CFactEntity& old = it->second;
    if (e.m_defined && !old.m_defined) {
        bool exported = old.m_exported;
        old = e;
        old.m_exported = old.m_exported || exported;
    } else {
        old.m_exported = old.m_exported || e.m_exported;
    }
    return old;
}

static void put_field(std::string& out, std::string_view s) {
    out += '\t';
    // Runs of plain bytes go in whole: records of a large unit run to a
    // hundred megabytes.
    size_t from = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c != '\\' && c != '\t' && c != '\n')
            continue;
        out.append(s.substr(from, i - from));
        out += c == '\\' ? "\\\\" : c == '\t' ? "\\t" : "\\n";
        from = i + 1;
    }
    out.append(s.substr(from));
}

// A record of one field: its kind letter and the value.
static void put_record(std::string& out, char kind, std::string_view value) {
    out += kind;
    put_field(out, value);
    out += '\n';
}

static std::vector<std::string> split_fields(const std::string& line) {
    std::vector<std::string> fields(1);
    size_t from = 0; // the start of the run of plain bytes not yet taken
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c != '\t' && c != '\\')
            continue;
        fields.back().append(line, from, i - from);
        if (c == '\t') {
            fields.emplace_back();
        } else if (i + 1 < line.size()) {
            char d = line[++i];
            fields.back() += d == 't' ? '\t' : d == 'n' ? '\n' : d;
        } else {
            fields.back() += c; // a backslash at the end stands for itself
        }
        from = i + 1;
    }
    fields.back().append(line, from, std::string::npos);
    return fields;
}

void unit_facts_records(const CUnitFacts& facts, const CRecordSink& sink) {
    const size_t kPiece = 64 * 1024;
    std::string out;
    auto pass_on = [&] {
        if (out.size() >= kPiece) {
            sink(out);
            out.clear();
        }
    };
    for (const auto& s : facts.m_spellings) {
        out += "S";
        put_field(out, s.first);
        put_field(out, s.second);
        out += '\n';
    }
    for (const auto& p : facts.m_entities) {
        const CFactEntity& e = p.second;
        out += "E";
        put_field(out, e.m_id);
        put_field(out, e.m_class);
        put_field(out, e.m_label);
        put_field(out, e.m_mangle);
        put_field(out, e.m_file);
        put_field(out, std::to_string(e.m_line));
        put_field(out, std::to_string(e.m_endLine));
        put_field(out, std::string(e.m_defined ? "D" : "") + (e.m_exported ? "X" : "") +
                           (e.m_inMacroLine ? "M" : ""));
        put_field(out, e.m_templateKey);
        put_field(out, std::to_string(e.m_textLine));
        put_field(out, std::to_string(e.m_textColumn));
        out += '\n';
        pass_on();
    }
    // Relations name their ends by number: a name is written once, in a
    // record "n" of its own, the first time a relation uses it, and takes
    // the next number. A large unit's ids are long mangled names, each in
    // many relations.
    const uint32_t kUnwritten = UINT32_MAX;
    std::vector<uint32_t> written(facts.m_relations.name_count(), kUnwritten);
    uint32_t next = 0;
    for (uint32_t i : facts.m_relations.sorted()) {
        std::array<uint32_t, 3> ids = facts.m_relations.ids(i);
        for (uint32_t id : ids)
            if (written[id] == kUnwritten) {
                written[id] = next++;
                put_record(out, 'n', facts.m_relations.name(id));
            }
        out += 'R';
        for (uint32_t id : ids)
            put_field(out, std::to_string(written[id]));
        out += '\n';
        pass_on();
    }
    for (const std::string& w : facts.m_warnings)
        put_record(out, 'W', w);
    for (const std::string& b : facts.m_built)
        put_record(out, 'B', b);
    if (!facts.m_failure.empty())
        put_record(out, 'X', facts.m_failure);
    for (const std::string& f : facts.m_files)
        put_record(out, 'F', f);
    for (const std::string& n : facts.m_names) {
        put_record(out, 'N', n);
        pass_on();
    }
    if (!out.empty())
        sink(out);
}

CRecordSource records_of_text(const std::string& records) {
    return [&records](const CRecordSink& sink) { sink(records); };
}

CRecordSource records_of_facts(const CUnitFacts& facts) {
    return [&facts](const CRecordSink& sink) { unit_facts_records(facts, sink); };
}

std::string record_field(const std::string& value) {
    std::string out;
    put_field(out, value);
    return out;
}

std::vector<std::string> record_fields(const std::string& line) { return split_fields(line); }

bool CRecordReader::read(const std::vector<std::string>& f) {
    const std::string& kind = f[0];
    CUnitFacts& factsR = m_facts;
    if (kind == "S" && f.size() == 3) {
        factsR.m_spellings.emplace(f[1], f[2]);
    } else if (kind == "E" && f.size() == 12) {
        CFactEntity e;
        e.m_id = f[1];
        e.m_class = f[2];
        e.m_label = f[3];
        e.m_mangle = f[4];
        e.m_file = f[5];
        e.m_line = atoi(f[6].c_str());
        e.m_endLine = atoi(f[7].c_str());
        e.m_defined = f[8].find('D') != std::string::npos;
        e.m_exported = f[8].find('X') != std::string::npos;
        e.m_inMacroLine = f[8].find('M') != std::string::npos;
        e.m_templateKey = f[9];
        e.m_textLine = atoi(f[10].c_str());
        e.m_textColumn = atoi(f[11].c_str());
        factsR.add_entity(e);
    } else if (kind == "n" && f.size() == 2) {
        m_names.push_back(factsR.m_relations.intern(f[1]));
    } else if (kind == "R" && f.size() == 4) {
        uint32_t ids[3];
        for (int k = 0; k < 3; ++k) {
            // A number of a name given before: plain decimal digits.
            const std::string& n = f[static_cast<size_t>(k) + 1];
            if (n.empty() || n.size() > 10 || n.find_first_not_of("0123456789") != std::string::npos)
                return false;
            unsigned long v = strtoul(n.c_str(), nullptr, 10);
            if (v >= m_names.size())
                return false;
            ids[k] = m_names[v];
        }
        factsR.m_relations.add_ids(ids[0], ids[1], ids[2]);
    } else if (kind == "W" && f.size() == 2) {
        factsR.m_warnings.push_back(f[1]);
    } else if (kind == "B" && f.size() == 2) {
        factsR.m_built.insert(f[1]);
    } else if (kind == "X" && f.size() == 2) {
        factsR.m_failure = f[1];
    } else if (kind == "F" && f.size() == 2) {
        factsR.m_files.insert(f[1]);
    } else if (kind == "N" && f.size() == 2) {
        factsR.m_names.insert(f[1]);
    } else {
        return false;
    }
    return true;
}
