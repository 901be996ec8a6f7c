// The JSON and SARIF documents of a run. Both are built as text in memory
// (a report is small next to the facts) and written whole, so that a reader
// never sees half a document.
#include "lopwort_document.h"

#include "EntityInstance.h"
#include "RelationClass.h"
#include "RelationInstance.h"
#include "lopwort.h"
#include "lopwort_source.h"
#include "lopwort_why.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// A JSON text written value by value, two blanks of indent a level.
class JsonText {
  public:
    std::string text;

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }
    void key(const char* nameP) {
        item();
        string(nameP);
        text += ": ";
        m_keyed = true;
    }
    void value(const char* textP) {
        item();
        if (textP == nullptr)
            text += "null";
        else
            string(textP);
    }
    void value(const std::string& s) { value(s.c_str()); }
    void value(long n) {
        item();
        text += std::to_string(n);
    }
    void value(bool b) {
        item();
        text += b ? "true" : "false";
    }
    void null() {
        item();
        text += "null";
    }
    template <class T> void field(const char* nameP, T v) {
        key(nameP);
        value(v);
    }

  private:
    std::vector<bool> m_first; // per open level: nothing in it yet
    bool m_keyed = false;      // a key was written; its value follows

    void item() {
        if (m_keyed) {
            m_keyed = false;
            return;
        }
        if (!m_first.empty()) {
            if (!m_first.back())
                text += ',';
            m_first.back() = false;
            newline();
        }
    }
    void newline() {
        text += '\n';
        text.append(2 * m_first.size(), ' ');
    }
    void open(char c) {
        item();
        text += c;
        m_first.push_back(true);
    }
    void close(char c) {
        bool empty = m_first.back();
        m_first.pop_back();
        if (!empty)
            newline();
        text += c;
    }
    // The facts may hold any bytes: valid UTF-8 is kept, control characters
    // are escaped, and a byte that is not part of a valid sequence stands
    // for the character of its value, so the document is always valid.
    void string(const char* p) {
        text += '"';
        while (*p) {
            unsigned char c = static_cast<unsigned char>(*p);
            size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
            bool valid = n > 0;
            for (size_t k = 1; valid && k < n; ++k)
                valid = (static_cast<unsigned char>(p[k]) & 0xc0) == 0x80;
            if (valid && n == 2 && c < 0xc2)
                valid = false; // overlong
            if (!valid) {
                escape(c);
                ++p;
                continue;
            }
            if (n > 1) {
                text.append(p, n);
                p += n;
                continue;
            }
            if (c == '"' || c == '\\') {
                text += '\\';
                text += static_cast<char>(c);
            } else if (c == '\n') {
                text += "\\n";
            } else if (c == '\t') {
                text += "\\t";
            } else if (c < 0x20 || c == 0x7f) {
                escape(c);
            } else {
                text += static_cast<char>(c);
            }
            ++p;
        }
        text += '"';
    }
    void escape(unsigned char c) {
        char buf[8];
        snprintf(buf, sizeof buf, "\\u%04x", c);
        text += buf;
    }
};

const char* modeName() {
    switch (g_mode) {
    case No_source:
        return "report";
    case Read_source:
        return "read";
    case Strip_source:
        return "strip";
    case Write_source:
        return "write";
    case Update_source:
        return "update";
    }
    return "report";
}

// The mangled name of a function: its "mangle", or the one its id holds
// (the id of a function with internal linkage is prefixed by its file).
const char* mangledName(CEntityInstance* eP) {
    if (const char* mangleP = eP->getAttribute("mangle"))
        return mangleP;
    const char* idP = eP->getId();
    if (const char* colonsP = strstr(idP, "::_Z"))
        return colonsP + 2;
    return strncmp(idP, "_Z", 2) == 0 ? idP : nullptr;
}

// The label as the facts mean it, or the id of an entity without one.
std::string labelText(CEntityInstance* eP) {
    return std::string(unquoted(eP->getLabel() != nullptr ? eP->getLabel() : eP->getId()));
}

void entityFields(JsonText& j, CEntityInstance* eP) {
    j.field("class", eP->getType());
    j.key("label");
    if (eP->getLabel() != nullptr)
        j.value(labelText(eP));
    else
        j.null();
    j.field("id", eP->getId());
    j.field("mangled", mangledName(eP));
    j.field("file", eP->m_fullpathP != nullptr && eP->m_fullpathP[0] ? eP->m_fullpathP : nullptr);
    j.key("line");
    if (eP->m_lineno != NO_LINENO)
        j.value(static_cast<long>(eP->m_lineno));
    else
        j.null();
}

void related(JsonText& j, CEntityInstance* eP, const char* howP) {
    j.beginObject();
    j.field("relation", howP);
    entityFields(j, eP);
    j.endObject();
}

const char* relationName(CRelationInstance* relP) { return relP->getRelationClass()->getId(); }

// What refers to a dead function, and what takes its address; what it
// refers to. As -f and -F list them.
void callersAndCallees(JsonText& j, CEntityInstance* eP) {
    if (g_called_from) {
        j.key("callers");
        j.beginArray();
        for (CRelationInstance* relP = eP->m_dstRelListP; relP; relP = relP->m_next_dstP)
            related(j, relP->m_srcP, relationName(relP));
        for (CRelationInstance* relP = eP->m_srcRelListP; relP; relP = relP->m_next_srcP) {
            if (strcmp(relP->m_dstP->getType(), "FA") != 0)
                continue;
            for (CRelationInstance* takerP = relP->m_dstP->m_dstRelListP; takerP;
                 takerP = takerP->m_next_dstP)
                if (takerP->m_srcP != eP)
                    related(j, takerP->m_srcP, "address");
        }
        j.endArray();
    }
    if (g_calls_to) {
        j.key("callees");
        j.beginArray();
        for (CRelationInstance* relP = eP->m_srcRelListP; relP; relP = relP->m_next_srcP)
            related(j, relP->m_dstP, relationName(relP));
        j.endArray();
    }
}

// A URI reference for a path: the bytes that may stand in a URI's path as
// they are, every other byte percent-encoded.
std::string uriPath(const char* p) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            strchr("-._~/", c) != nullptr) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// The -p directory as a prefix of paths under it, with its trailing "/";
// empty without one.
std::string directoryPrefix() {
    if (g_underpathP == nullptr || g_underpathP[0] == '\0')
        return std::string();
    std::string dir = g_underpathP;
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

} // namespace

void CReportDocument::addDead(CEntityInstance* eP, const char* statusP, int endLine) {
    m_dead.push_back({eP, statusP, endLine});
}

void CReportDocument::addSkipped(CEntityInstance* eP) { m_skipped.push_back(eP); }

std::string CReportDocument::json(const char* factsP) const {
    JsonText j;
    j.beginObject();
    j.field("tool", "lopwort");
    j.field("version", kLopwortVersion);
    j.key("settings");
    j.beginObject();
    j.field("facts", factsP);
    j.field("mode", modeName());
    j.field("directory", g_underpathP);
    j.field("backup", g_backup != 0);
    j.field("callers", g_called_from != 0);
    j.field("callees", g_calls_to != 0);
    j.endObject();
    j.key("dead");
    j.beginArray();
    for (const Entry& entry : m_dead) {
        j.beginObject();
        entityFields(j, entry.eP);
        if (entry.endLine > 0)
            j.field("end_line", static_cast<long>(entry.endLine));
        j.field("status", entry.status);
        callersAndCallees(j, entry.eP);
        j.endObject();
    }
    j.endArray();
    j.key("skipped");
    j.beginObject();
    j.field("directory", g_underpathP);
    j.key("functions");
    j.beginArray();
    for (CEntityInstance* eP : m_skipped) {
        j.beginObject();
        entityFields(j, eP);
        j.endObject();
    }
    j.endArray();
    j.endObject();
    j.key("summary");
    j.beginObject();
    j.field("lines_guarded", static_cast<long>(g_lines_code));
    j.field("guard_statements_removed", static_cast<long>(g_stripped));
    j.field("dead_functions", static_cast<long>(g_dead_functions));
    j.field("without_known_boundaries", static_cast<long>(g_failed));
    j.field("files_updated", static_cast<long>(g_updated));
    j.field("files_not_written", static_cast<long>(g_unwritten));
    j.field("skipped_functions", static_cast<long>(g_skipped));
    j.field("skipped_files", static_cast<long>(g_skipped_files));
    j.endObject();
    j.endObject();
    return j.text + "\n";
}

std::string CReportDocument::sarif() const {
    std::string prefix = directoryPrefix();
    JsonText j;
    j.beginObject();
    j.field("$schema", "https://json.schemastore.org/sarif-2.1.0.json");
    j.field("version", "2.1.0");
    j.key("runs");
    j.beginArray();
    j.beginObject();
    j.key("tool");
    j.beginObject();
    j.key("driver");
    j.beginObject();
    j.field("name", "lopwort");
    j.field("version", kLopwortVersion);
    j.key("rules");
    j.beginArray();
    j.beginObject();
    j.field("id", "dead-function");
    j.field("name", "DeadFunction");
    j.key("shortDescription");
    j.beginObject();
    j.field("text", "A function that nothing reachable from the program's roots uses.");
    j.endObject();
    j.key("fullDescription");
    j.beginObject();
    j.field("text", "No call, reference, address or virtual call that starts from main, wmain "
                    "or a static initialiser reaches this function, so the program never runs "
                    "it. lopwort can guard it out of the source with #ifndef _DEAD_.");
    j.endObject();
    j.key("defaultConfiguration");
    j.beginObject();
    j.field("level", "warning");
    j.endObject();
    j.endObject();
    j.endArray();
    j.endObject();
    j.endObject();
    if (!prefix.empty()) {
        j.key("originalUriBaseIds");
        j.beginObject();
        j.key("SRCROOT");
        j.beginObject();
        j.field("uri", "file://" + uriPath(prefix.c_str()));
        j.endObject();
        j.endObject();
    }
    j.key("results");
    j.beginArray();
    for (const Entry& entry : m_dead) {
        CEntityInstance* eP = entry.eP;
        std::string label = labelText(eP);
        j.beginObject();
        j.field("ruleId", "dead-function");
        j.field("ruleIndex", 0L);
        j.field("level", "warning");
        j.key("message");
        j.beginObject();
        j.field("text", label + " is dead: nothing reachable from the roots uses it.");
        j.endObject();
        j.key("locations");
        j.beginArray();
        j.beginObject();
        const char* pathP = eP->m_fullpathP;
        if (pathP != nullptr && pathP[0] == '/') {
            j.key("physicalLocation");
            j.beginObject();
            j.key("artifactLocation");
            j.beginObject();
            if (!prefix.empty() && strncmp(pathP, prefix.c_str(), prefix.size()) == 0) {
                j.field("uri", uriPath(pathP + prefix.size()));
                j.field("uriBaseId", "SRCROOT");
            } else {
                j.field("uri", "file://" + uriPath(pathP));
            }
            j.endObject();
            if (eP->m_lineno != NO_LINENO && eP->m_lineno > 0) {
                j.key("region");
                j.beginObject();
                j.field("startLine", static_cast<long>(eP->m_lineno));
                if (entry.endLine >= eP->m_lineno)
                    j.field("endLine", static_cast<long>(entry.endLine));
                j.endObject();
            }
            j.endObject();
        }
        j.key("logicalLocations");
        j.beginArray();
        j.beginObject();
        j.field("name", label);
        if (const char* mangledP = mangledName(eP))
            j.field("decoratedName", mangledP);
        j.field("kind", "function");
        j.endObject();
        j.endArray();
        j.endObject();
        j.endArray();
        j.key("properties");
        j.beginObject();
        j.field("status", entry.status);
        j.field("class", eP->getType());
        j.endObject();
        j.endObject();
    }
    j.endArray();
    j.endObject();
    j.endArray();
    j.endObject();
    return j.text + "\n";
}

bool write_document(const char* pathP, const std::string& text) {
    if (strcmp(pathP, "-") == 0) {
        fwrite(text.data(), 1, text.size(), stdout);
        if (fflush(stdout) == 0 && !ferror(stdout))
            return true;
        fprintf(stderr, "** Can't write the document to standard output: %s\n", strerror(errno));
        return false;
    }
    int err = replace_file(pathP, text);
    if (err == 0)
        return true;
    fprintf(stderr, "** Can't write %s: %s\n", pathP,
            err > 0 ? strerror(err) : "it changed while it was written");
    return false;
}
