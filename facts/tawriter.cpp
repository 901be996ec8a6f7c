// lopwort reads ids with its token reader (which resolves backslash escapes
// in quoted strings) and attribute values with its value reader (which keeps
// quotes around items that need them and cuts the "args" words at blanks,
// parentheses, braces and commas unless escaped). Each writer below is the
// inverse of one of those readers.
#include "tawriter.h"

#include <array>
#include <cstring>

static bool ends_word(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '=' || c == '{' ||
           c == '}' || c == '(' || c == ')';
}

static bool starts_comment(std::string_view s) {
    return s.size() >= 2 && s[0] == '/' && (s[1] == '/' || s[1] == '*');
}

// The characters a bare word cannot hold, by byte: a table, since every id
// of a fact file of hundreds of megabytes is looked at character by
// character.
static const std::array<bool, 256> kQuoteInWord = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<size_t>(c)] = ends_word(static_cast<char>(c)) || c == '"' ||
                                        c == '\'' || c == '\\';
    return table;
}();

static void append_word(std::string& out, std::string_view s) {
    bool quote = s.empty() || s == ":" || starts_comment(s);
    for (size_t i = 0; !quote && i < s.size(); ++i)
        quote = kQuoteInWord[static_cast<unsigned char>(s[i])];
    if (!quote) {
        out.append(s);
        return;
    }
    out += '"';
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
}

std::string ta_word(std::string_view s) {
    std::string out;
    append_word(out, s);
    return out;
}

std::string ta_value(const std::string& text) {
    std::string s = text;
    for (char& c : s)
        if (c == '\\')
            c = '/';
    bool quote = s.empty() || starts_comment(s) || s[0] == '"' || s[0] == '\'';
    for (char c : s)
        if (ends_word(c))
            quote = true;
    if (!quote)
        return s;
    char q = '"';
    if (s.find('"') != std::string::npos) {
        if (s.find('\'') == std::string::npos) {
            q = '\'';
        } else {
            for (char& c : s)
                if (c == '"')
                    c = '\'';
        }
    }
    return q + s + q;
}

static bool is_args_separator(char c) {
    return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == 27 || c == ' ' || c == '(' ||
           c == ')' || c == ',' || c == '{' || c == '}' || c == 127;
}

static std::string args_word(const std::string& s) {
    bool quote = s.empty() || starts_comment(s);
    for (char c : s)
        if (is_args_separator(c) || c == '=' || c == '"' || c == '\'' || c == '\\')
            quote = true;
    if (!quote)
        return s;
    std::string out = "\"";
    for (char c : s) {
        if (is_args_separator(c) || c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string ta_args(const std::vector<std::string>& words) {
    std::string out = "(";
    for (size_t i = 0; i < words.size(); ++i) {
        if (i)
            out += ' ';
        out += args_word(words[i]);
    }
    return out + ")";
}

bool write_ta(const CFactBase& base, const std::string& source,
              const std::function<bool(const std::string&)>& sink) {
    // Handed over a piece at a time: the whole text is as large again as
    // the fact base it is written from.
    std::string out;
    bool ok = true;
    auto flush = [&](bool last) {
        if (ok && (last || out.size() >= (1u << 18))) {
            ok = sink(out);
            out.clear();
        }
    };
    out += "// Facts written by lopwort-facts from " + source + "\n";
    out += "FACT TUPLE :\n";
    for (const CMergedUnit& u : base.units()) {
        out += "$INSTANCE " + ta_word(u.m_id) + " file\n";
        flush(false);
    }
    for (size_t i = 0; i < base.entity_count(); ++i) {
        CMergedEntity m = base.entity_at(i);
        out += "$INSTANCE " + ta_word(m.m_fact.m_id) + " " + m.m_fact.m_class + "\n";
        flush(false);
    }
    for (size_t i = 0; i < base.entity_count(); ++i) {
        CMergedEntity m = base.entity_at(i);
        if (m.m_unit >= 0 && m.m_fact.is_function())
            out += "contain " + ta_word(base.units()[static_cast<size_t>(m.m_unit)].m_id) + " " +
                   ta_word(m.m_fact.m_id) + "\n";
        flush(false);
    }
    for (size_t i = 0; i < base.relation_count(); ++i) {
        CFactRelationRef r = base.relation(i);
        out.append(r.m_verb);
        out += ' ';
        append_word(out, r.m_src);
        out += ' ';
        append_word(out, r.m_dst);
        out += '\n';
        flush(false);
    }

    out += "FACT ATTRIBUTE :\n";
    for (const CMergedUnit& u : base.units()) {
        out += ta_word(u.m_id) + " { label = " + ta_value(u.m_label) +
               " args = " + ta_args(u.m_args) + " }\n";
        flush(false);
    }
    for (size_t i = 0; i < base.entity_count(); ++i) {
        CMergedEntity m = base.entity_at(i);
        const CFactEntity& e = m.m_fact;
        out += ta_word(e.m_id) + " { label = " + ta_value(e.m_label);
        bool function = e.is_function();
        if (function && !e.m_file.empty())
            out += " file = " + ta_value(base.spelled(e.m_file));
        if (function && e.m_line > 0)
            out += " lineno = " + std::to_string(e.m_line);
        if (!e.m_mangle.empty())
            out += " mangle = " + ta_value(e.m_mangle);
        out += " }\n";
        flush(false);
    }
    flush(true);
    return ok;
}
