// The productions of the mangled-name parser: names, types and expressions.
// Each opens a node of its own type at the cursor and closes it where it
// stops, so the tree spans the text exactly; alternatives are chosen by
// looking at the next one to three characters. The text is NUL-terminated
// and every look-ahead stops at the NUL, so no character behind it is read.
#include "signature.h"

#include <cstring>

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool is_lower(char c) {
    return c >= 'a' && c <= 'z';
}

bool is_cv(char c) {
    return c == 'K' || c == 'V' || c == 'r';
}

// True when the text at p begins with s; stops at the first difference, so
// it never looks past the text's NUL.
bool at(const char* p, const char* s) {
    for (; *s != '\0'; ++p, ++s)
        if (*p != *s)
            return false;
    return true;
}

} // namespace

// The two-letter operator codes, in the order whose position an operator node
// keeps as its value. The texts are for readers of dumps; no production
// uses them.
const operatorT Csignature::operators[] = {
    {"aN", "&=", 2, 2},       {"aS", "=", 1, 2},        {"aa", "&&", 2, 2},
    {"ad", "&", 1, 1},        {"an", "&", 1, 2},        {"cl", "()", 2, 2},
    {"cm", ",", 1, 2},        {"co", "~", 1, 1},        {"dV", "/=", 2, 2},
    {"da", "delete[]", 8, 1}, {"de", "*", 1, 1},        {"dl", "delete", 6, 1},
    {"dt", ".", 1, 2},        {"dv", "/", 1, 2},        {"eO", "^=", 2, 2},
    {"eo", "^", 1, 2},        {"eq", "==", 2, 2},       {"ge", ">=", 2, 2},
    {"gt", ">", 1, 2},        {"ix", "[]", 2, 2},       {"lS", "<<=", 3, 2},
    {"le", "<=", 2, 2},       {"ls", "<<", 2, 2},       {"lt", "<", 1, 2},
    {"mI", "-=", 2, 2},       {"mL", "*=", 2, 2},       {"mi", "-", 1, 2},
    {"ml", "*", 1, 2},        {"mm", "--", 2, 1},       {"na", "new[]", 5, 1},
    {"ne", "!=", 2, 2},       {"ng", "-", 1, 1},        {"nt", "!", 1, 1},
    {"nw", "new", 3, 1},      {"oR", "|=", 2, 2},       {"oo", "||", 2, 2},
    {"or", "|", 1, 2},        {"pL", "+=", 2, 2},       {"pl", "+", 1, 2},
    {"pm", "->*", 3, 2},      {"pp", "++", 2, 1},       {"ps", "+", 1, 1},
    {"pt", "->", 2, 2},       {"qu", "?", 1, 3},        {"rM", "%=", 2, 2},
    {"rS", ">>=", 3, 2},      {"rm", "%", 1, 2},        {"rs", ">>", 2, 2},
    {"st", "sizeof ", 7, 1},  {"sz", "sizeof ", 7, 1},  {"at", "alignof ", 8, 1},
    {"az", "alignof ", 8, 1}, {nullptr, nullptr, 0, 0},
};

const operatorT* Csignature::lookup_operator(char c1, char c2) {
    for (const operatorT* opP = operators; opP->codeP != nullptr; ++opP)
        if (opP->codeP[0] == c1 && opP->codeP[1] == c2)
            return opP;
    return nullptr;
}

// ================================================================ names

// <mangled-name> ::= _Z <encoding>
// Anything else is an unmangled name (a C function, "main") and is taken
// whole, without children.
void Csignature::mangled_name() {
    Cnew_node node(this, SIGNATURE_mangled_name);
    if (at(m_atP, "_Z")) {
        m_atP += 2;
        encoding();
    } else {
        m_atP += strlen(m_atP);
    }
}

// <encoding> ::= <special-name>
//            ::= <name> [<bare-function-type>]
// Variables, and entities named inside a local name or a literal, have no
// parameter types; a name with a ref-qualifier is a member function and must
// have them.
void Csignature::encoding() {
    Cnew_node node(this, SIGNATURE_encoding);
    if (*m_atP == 'G' || *m_atP == 'T') {
        special_name();
        return;
    }
    bool outer_ref_qualified = m_ref_qualified;
    m_ref_qualified = false;
    name(true);
    bool ref_qualified = m_ref_qualified;
    m_ref_qualified = outer_ref_qualified;
    if (*m_atP != '\0' && *m_atP != 'E')
        bare_function_type();
    else if (ref_qualified)
        fail();
}

// <special-name> ::= GA <encoding> | GR <name> | GV <name> | Gr <java-resource>
//                ::= TC <type> <compact-number> <type>
//                ::= TF <type> | TI <type> | TJ <type> | TS <type> | TT <type> | TV <type>
//                ::= Tc <call-offset> <call-offset> <encoding>
//                ::= T <call-offset> <encoding>
void Csignature::special_name() {
    Cnew_node node(this, SIGNATURE_special_name);
    char c1 = m_atP[0];
    char c2 = c1 != '\0' ? m_atP[1] : '\0';
    if (c1 == 'G') {
        switch (c2) {
        case 'A':
            m_atP += 2;
            encoding();
            return;
        case 'R':
        case 'V':
            m_atP += 2;
            name();
            return;
        case 'r':
            m_atP += 2;
            java_resource();
            return;
        default:
            break;
        }
    } else if (c1 == 'T') {
        switch (c2) {
        case 'C':
            m_atP += 2;
            type();
            compact_number();
            type();
            return;
        case 'F':
        case 'I':
        case 'J':
        case 'S':
        case 'T':
        case 'V':
            m_atP += 2;
            type();
            return;
        case 'c':
            m_atP += 2;
            call_offset();
            call_offset();
            encoding();
            return;
        case 'h':
        case 'v':
            m_atP += 1; // the call offset reads its own letter
            call_offset();
            encoding();
            return;
        default:
            break;
        }
    }
    fail();
}

// <call-offset> ::= h <number> _
//               ::= v <number> _ <number> _
void Csignature::call_offset() {
    Cnew_node node(this, SIGNATURE_call_offset);
    char c = *m_atP;
    if (c != 'h' && c != 'v')
        fail();
    ++m_atP;
    number();
    require('_');
    if (c == 'v') {
        number();
        require('_');
    }
}

// <java-resource> ::= <compact-number> <identifier>
// The compact number is one more than the identifier's length.
void Csignature::java_resource() {
    Cnew_node node(this, SIGNATURE_java_resource);
    long n = compact_number();
    if (n <= 1)
        fail();
    identifier(n - 1);
}

// <name> ::= <nested-name>
//        ::= <local-name>
//        ::= <substitution> [<template-args>]
//        ::= <unscoped-name> [<template-args>]
// Returns 0 for a bare substitution, which is no new dictionary candidate
// when the name is a type, and 1 otherwise. The flag is set for the name of
// an encoding, which may be that of a member function.
int Csignature::name(bool function) {
    Cnew_node node(this, SIGNATURE_name);
    char c = *m_atP;
    if (c == 'N') {
        nested_name(function);
        return 1;
    }
    if (c == 'Z') {
        local_name(function);
        return 1;
    }
    if (c == 'S' && m_atP[1] != 't') {
        substitution();
        if (*m_atP != 'I')
            return 0;
        template_args();
        return 1;
    }
    unscoped_name();
    if (*m_atP == 'I') {
        // The template itself is a candidate before its arguments are read,
        // so that the arguments can refer to it.
        last_seen(SIGNATURE_unscoped_template_name);
        add_dictionary(m_nodeP->m_childP);
        template_args();
    }
    return 1;
}

// <unscoped-name> ::= [St] <unqualified-name>
void Csignature::unscoped_name() {
    Cnew_node node(this, SIGNATURE_unscoped_name);
    if (at(m_atP, "St"))
        St();
    unqualified_name(0);
}

// St: the std:: of an unscoped name.
void Csignature::St() {
    Cnew_node node(this, SIGNATURE_St);
    m_atP += 2;
}

// <nested-name> ::= N [<CV-qualifiers>] [<ref-qualifier>] <prefix> E
// <ref-qualifier> ::= R | O
// Only the name of a member function takes a ref-qualifier, so only the
// name of an encoding may have one; it shares the node of the cv-qualifiers.
// No prefix component begins with R or O, so the letter cannot be misread.
void Csignature::nested_name(bool function) {
    Cnew_node node(this, SIGNATURE_nested_name);
    require('N');
    if (is_cv(*m_atP) || (function && (*m_atP == 'R' || *m_atP == 'O')))
        cv_qualifiers(function);
    prefix();
    require('E');
}

// <prefix> ::= <prefix-component>+, each component optionally followed by
//              <template-args>, the last one followed by E
// <prefix-component> ::= <substitution> | <template-param> | <decltype>
//                    ::= <unqualified-name>
// No node of its own: after each component the children of the nested name
// so far are wrapped into one template prefix (before template arguments) or
// prefix, which enters the dictionary unless it is a bare substitution, so
// the tree nests to the left. The last component is no entry. A decltype can
// only be last.
// Every wrap deepens the tree, so each counts as a level of nesting.
void Csignature::prefix() {
    struct Levels {
        Csignature* signatureP;
        int depth;
        ~Levels() { signatureP->m_depth = depth; }
    } levels{this, m_depth};

    auto wrap = [this](signature_type type, bool was_substitution) {
        enter_level();
        all_seen(type);
        if (!was_substitution)
            add_dictionary(m_nodeP->m_childP);
    };
    for (;;) {
        bool was_substitution = false;
        char c = *m_atP;
        if (c == 'S') {
            substitution();
            was_substitution = true;
        } else if (c == 'T') {
            template_param();
        } else if (c == 'D' && (m_atP[1] == 't' || m_atP[1] == 'T')) {
            decltype1();
            return;
        } else {
            unqualified_name(1);
        }
        if (*m_atP == 'E')
            return;
        bool has_args = false;
        if (*m_atP == 'I') {
            wrap(SIGNATURE_template_prefix, was_substitution);
            template_args();
            has_args = true;
            if (*m_atP == 'E')
                return;
        }
        // A substitution with template arguments names a new entity (SaIcE,
        // std::allocator<char>), which is an entry like any other prefix;
        // leaving it out would shift every later reference.
        wrap(SIGNATURE_prefix, was_substitution && !has_args);
    }
}

// <local-name> ::= Z <encoding> E <name> [<discriminator>]
//              ::= Z <encoding> E s [<discriminator>]
//              ::= Z <encoding> E d <compact-number> <name> [<discriminator>]
// The entity is the name of the encoding when the local name is, so a
// member function of a local class may be ref-qualified.
void Csignature::local_name(bool function) {
    Cnew_node node(this, SIGNATURE_local_name);
    require('Z');
    encoding();
    require('E');
    if (*m_atP == 'd') {
        ++m_atP;
        compact_number();
        name(function);
    } else if (*m_atP == 's') {
        ++m_atP;
    } else {
        name(function);
    }
    if (*m_atP == '_')
        discriminator();
}

// <unqualified-name> ::= <ctor-dtor-name>
//                    ::= L <source-name> [<discriminator>]
//                    ::= <unnamed-type-name>
//                    ::= <source-name> [M]
//                    ::= <operator-name>
//                    ... each followed by any number of <abi-tag>
// The M of a data member prefix (a closure in a member initializer) is only
// taken inside a nested name.
void Csignature::unqualified_name(int maybe_data_member_prefix) {
    Cnew_node node(this, SIGNATURE_unqualified_name);
    char c = *m_atP;
    if (c == 'C' || c == 'D') {
        ctor_dtor_name();
    } else if (c == 'L') {
        ++m_atP;
        source_name();
        if (*m_atP == '_')
            discriminator();
    } else if (c == 'U') {
        if (m_atP[1] != 'l' && m_atP[1] != 't')
            fail();
        unnamed_type_name();
    } else if (is_digit(c)) {
        source_name();
        if (maybe_data_member_prefix != 0 && *m_atP == 'M') {
            last_seen(SIGNATURE_data_member_prefix);
            ++m_atP;
        }
    } else if (is_lower(c)) {
        operator_name();
    } else {
        fail();
    }
    while (*m_atP == 'B')
        abi_tag();
}

// <abi-tag> ::= B <source-name>
// Compilers tag every function that returns a string or a list this way; the
// tag stays in the renderings, so equal tags compare equal.
void Csignature::abi_tag() {
    Cnew_node node(this, SIGNATURE_abi_tag);
    require('B');
    source_name();
}

// <source-name> ::= <positive length number> <identifier>
void Csignature::source_name() {
    Cnew_node node(this, SIGNATURE_source_name);
    long lth = number();
    if (lth <= 0)
        fail();
    identifier(lth);
}

// <identifier> ::= <lth characters>
void Csignature::identifier(long lth) {
    Cnew_node node(this, SIGNATURE_identifier);
    if (strnlen(m_atP, static_cast<size_t>(lth)) < static_cast<size_t>(lth))
        fail();
    m_atP += lth;
}

// <number> ::= [n] <decimal digits, possibly none>
// A value beyond 64 bits fails: no real name holds one.
long Csignature::number() {
    Cnew_node node(this, SIGNATURE_number);
    bool negative = false;
    if (*m_atP == 'n') {
        negative = true;
        ++m_atP;
    }
    int64_t value = 0;
    while (is_digit(*m_atP)) {
        int d = *m_atP - '0';
        if (value > (INT64_MAX - d) / 10)
            fail();
        value = value * 10 + d;
        ++m_atP;
    }
    if (negative)
        value = -value;
    m_nodeP->m_value = value;
    return static_cast<long>(value);
}

// <compact-number> ::= _ | <decimal digits> _
// "_" is 0 and n followed by "_" is n + 1.
long Csignature::compact_number() {
    Cnew_node node(this, SIGNATURE_compact_number);
    if (*m_atP == '_') {
        ++m_atP;
        return 0;
    }
    int64_t value = 0;
    while (is_digit(*m_atP)) {
        int d = *m_atP - '0';
        if (value > (INT64_MAX - 1 - d) / 10)
            fail();
        value = value * 10 + d;
        ++m_atP;
    }
    require('_');
    m_nodeP->m_value = value + 1;
    return static_cast<long>(value + 1);
}

// <digit> ::= 0 | 1 | ... | 9
int Csignature::digit() {
    Cnew_node node(this, SIGNATURE_digit);
    char c = *m_atP;
    if (!is_digit(c))
        fail();
    ++m_atP;
    m_nodeP->m_value = c - '0';
    return c - '0';
}

// <discriminator> ::= _ <non-negative number>
void Csignature::discriminator() {
    Cnew_node node(this, SIGNATURE_discriminator);
    require('_');
    if (number() < 0)
        fail();
}

// <operator-name> ::= <two-letter code of the operator table>
//                 ::= cv <type>                    (conversion)
//                 ::= v <digit> <source-name>      (vendor extended)
// Returns the number of operands; -1 for a conversion.
int Csignature::operator_name() {
    Cnew_node node(this, SIGNATURE_operator_name);
    char c1 = m_atP[0];
    if (c1 == '\0')
        fail();
    char c2 = m_atP[1];
    if (c2 == '\0')
        fail();
    m_atP += 2;
    if (c1 == 'c' && c2 == 'v') {
        type();
        m_nodeP->m_value = -2;
        return -1;
    }
    if (c1 == 'v' && is_digit(c2)) {
        --m_atP;
        int operands = digit();
        source_name();
        m_nodeP->m_value = -1;
        return operands;
    }
    const operatorT* opP = lookup_operator(c1, c2);
    if (opP == nullptr)
        fail();
    m_nodeP->m_value = opP - operators;
    return opP->args;
}

// <ctor-dtor-name> ::= C1 | C2 | C3 | D0 | D1 | D2
void Csignature::ctor_dtor_name() {
    Cnew_node node(this, SIGNATURE_ctor_dtor_name);
    char c1 = m_atP[0];
    char c2 = c1 != '\0' ? m_atP[1] : '\0';
    bool ok = (c1 == 'C' && c2 >= '1' && c2 <= '3') || (c1 == 'D' && c2 >= '0' && c2 <= '2');
    if (!ok)
        fail();
    m_atP += 2;
}

// <unnamed-type-name> ::= Ut [<number>] _
//                     ::= <closure-type-name>
void Csignature::unnamed_type_name() {
    Cnew_node node(this, SIGNATURE_unnamed_type_name);
    if (m_atP[0] != 'U')
        fail();
    if (m_atP[1] == 'l') {
        closure_type_name();
    } else if (m_atP[1] == 't') {
        m_atP += 2;
        compact_number();
    } else {
        fail();
    }
}

// <closure-type-name> ::= Ul <lambda parameter types> E <compact-number>
void Csignature::closure_type_name() {
    Cnew_node node(this, SIGNATURE_closure_type_name);
    require('U');
    require('l');
    bare_function_type();
    require('E');
    compact_number();
}

// ================================================================ types

// <type> ::= <CV-qualifiers> <type> | <builtin-type> | u <source-name>
//        ::= <function-type> | <class-enum-type> | <array-type>
//        ::= <pointer-to-member-type> | <template-param> [<template-args>]
//        ::= <substitution> [<template-args>] | C|G|O|P|R <type>
//        ::= U <source-name> <type> | <decltype> | Dp <type>
//        ::= D<letter> (builtin) | <fixed-point-type> | <vector-type>
// At its end the type enters the dictionary, unless it is a builtin, begins
// with D, or is a bare substitution.
void Csignature::type() {
    Cnew_node node(this, SIGNATURE_type);
    Csignature_node* selfP = m_nodeP;
    int can_subst = 1;
    char c = *m_atP;
    switch (c) {
    case 'K':
    case 'V':
    case 'r':
        cv_qualifiers();
        type();
        break;
    case 'a':
    case 'b':
    case 'c':
    case 'd':
    case 'e':
    case 'f':
    case 'g':
    case 'h':
    case 'i':
    case 'j':
    case 'l':
    case 'm':
    case 'n':
    case 'o':
    case 's':
    case 't':
    case 'v':
    case 'w':
    case 'x':
    case 'y':
    case 'z':
        ++m_atP;
        return;
    case 'u':
        ++m_atP;
        source_name();
        break;
    case 'F':
        function_type();
        break;
    case 'N':
    case 'Z':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
        class_enum_type();
        break;
    case 'A':
        array_type();
        break;
    case 'M':
        pointer_to_member_type();
        break;
    case 'T':
        template_param();
        if (*m_atP == 'I') {
            last_seen(SIGNATURE_template_template_param);
            add_dictionary(m_nodeP->m_childP);
            template_args();
        }
        break;
    case 'S':
        if (is_lower(m_atP[1])) {
            can_subst = class_enum_type();
        } else {
            substitution();
            if (*m_atP == 'I')
                template_args();
            else
                can_subst = 0;
        }
        break;
    case 'C':
    case 'G':
    case 'O':
    case 'P':
    case 'R':
        ++m_atP;
        type();
        break;
    case 'U':
        ++m_atP;
        source_name();
        type();
        break;
    case 'D':
        can_subst = 0;
        switch (m_atP[1]) {
        case 'T':
        case 't':
            decltype1();
            break;
        case 'p':
            m_atP += 2;
            type();
            break;
        case 'a':
        case 'd':
        case 'e':
        case 'f':
        case 'h':
        case 'i':
        case 'n':
        case 's':
            m_atP += 2;
            return;
        case 'F':
            fixed_point_type();
            break;
        case 'v':
            vector_type();
            break;
        default:
            fail();
        }
        break;
    default:
        fail();
    }
    if (can_subst != 0)
        add_dictionary(selfP);
}

// <CV-qualifiers> ::= [r] [V] [K], here in any order and number
// In the nested name of a member function, one <ref-qualifier> may follow.
void Csignature::cv_qualifiers(bool ref_qualifier) {
    Cnew_node node(this, SIGNATURE_cv_qualifiers);
    while (is_cv(*m_atP))
        ++m_atP;
    if (ref_qualifier && (*m_atP == 'R' || *m_atP == 'O')) {
        ++m_atP;
        m_ref_qualified = true;
    }
}

// <class-enum-type> ::= <name>
int Csignature::class_enum_type() {
    Cnew_node node(this, SIGNATURE_class_enum_type);
    return name();
}

// <function-type> ::= F [Y] <bare-function-type> E
void Csignature::function_type() {
    Cnew_node node(this, SIGNATURE_function_type);
    require('F');
    if (*m_atP == 'Y')
        ++m_atP;
    bare_function_type();
    require('E');
}

// <bare-function-type> ::= [J] <type>+
// Stops at E or at the end of the text.
void Csignature::bare_function_type() {
    Cnew_node node(this, SIGNATURE_bare_function_type);
    if (*m_atP == 'J')
        ++m_atP;
    int types = 0;
    while (*m_atP != 'E' && *m_atP != '\0') {
        type();
        ++types;
    }
    if (types == 0)
        fail();
}

// <array-type> ::= A [<number> | <expression>] _ <type>
void Csignature::array_type() {
    Cnew_node node(this, SIGNATURE_array_type);
    require('A');
    if (is_digit(*m_atP))
        number();
    else if (*m_atP != '_')
        expression();
    require('_');
    type();
}

// <pointer-to-member-type> ::= M <class type> <member type>
// Qualifiers followed by F belong to a member function and get a node of
// their own; other qualifiers belong to the member type.
void Csignature::pointer_to_member_type() {
    Cnew_node node(this, SIGNATURE_pointer_to_member_type);
    require('M');
    type();
    const char* p = m_atP;
    while (is_cv(*p))
        ++p;
    if (p != m_atP && *p != 'F') {
        type();
        return;
    }
    if (p != m_atP)
        cv_qualifiers();
    type();
}

// <fixed-point-type> ::= DF <number> <type> <number> <saturation flag>
void Csignature::fixed_point_type() {
    Cnew_node node(this, SIGNATURE_fixed_point_type);
    require('D');
    require('F');
    number();
    type();
    number();
    if (*m_atP == '\0')
        fail();
    ++m_atP;
}

// <vector-type> ::= Dv <number> _ <type>
//               ::= Dv _ <expression> _ <type>
void Csignature::vector_type() {
    Cnew_node node(this, SIGNATURE_vector_type);
    require('D');
    require('v');
    if (*m_atP != '_') {
        number();
    } else {
        ++m_atP;
        expression();
    }
    require('_');
    type();
}

// <template-param> ::= T_ | T <number> _
void Csignature::template_param() {
    Cnew_node node(this, SIGNATURE_template_param);
    require('T');
    long value = compact_number();
    m_nodeP->m_value = value;
}

// <template-args> ::= I <template-arg>+ E
void Csignature::template_args() {
    Cnew_node node(this, SIGNATURE_template_args);
    require('I');
    int args = 0;
    while (*m_atP != 'E') {
        template_arg();
        ++args;
    }
    ++m_atP;
    if (args == 0)
        fail();
}

// <template-arg> ::= <type> | X <expression> E | <expr-primary>
//                ::= J <template-arg>* E
void Csignature::template_arg() {
    Cnew_node node(this, SIGNATURE_template_arg);
    switch (*m_atP) {
    case 'L':
        expr_primary();
        break;
    case 'X':
        ++m_atP;
        expression();
        require('E');
        break;
    case 'J':
        ++m_atP;
        while (*m_atP != 'E')
            template_arg();
        ++m_atP;
        break;
    default:
        type();
    }
}

// ================================================================ expressions

// <expression> ::= <expr-primary> | <template-param>
//              ::= at <type> | st <type> | ti <type>
//              ::= cl <expression>* E | cv <type> <expression>
//              ::= cv <type> _ <expression>* E
//              ::= cc|dc|rc|sc <type> <expression>
//              ::= da|dl|sp|te|tw <expression> | ds <expression> <expression>
//              ::= dt|pt <expression> <unresolved-name>
//              ::= <function-param> | sZ <template-param> | sZ <function-param>
//              ::= mm_ <expression> | pp_ <expression> | tr
//              ::= [gs] nw|na <expression>* _ <type> (E | <initializer>)
//              ::= <operator-name> <expression>{operands}
//              ::= <unresolved-name>
// Only parsed so that the cursor lands behind the expression; nothing is
// evaluated. Every alternative consumes at least one character.
void Csignature::expression() {
    Cnew_node node(this, SIGNATURE_expression);
    const char* p = m_atP;
    if (*p == 'L') {
        expr_primary();
        return;
    }
    if (*p == 'T') {
        template_param();
        return;
    }
    bool global = false;
    if (at(p, "at") || at(p, "st") || at(p, "ti")) {
        m_atP += 2;
        type();
        return;
    }
    if (at(p, "cl")) {
        m_atP += 2;
        expressions_until('E');
        return;
    }
    if (at(p, "cv")) {
        m_atP += 2;
        type();
        if (*m_atP == '_') {
            ++m_atP;
            expressions_until('E');
        } else {
            expression();
        }
        return;
    }
    if (at(p, "cc") || at(p, "dc") || at(p, "rc") || at(p, "sc")) {
        m_atP += 2;
        type();
        expression();
        return;
    }
    if (at(p, "da") || at(p, "dl") || at(p, "sp") || at(p, "te") || at(p, "tw")) {
        m_atP += 2;
        expression();
        return;
    }
    if (at(p, "ds")) {
        m_atP += 2;
        expression();
        expression();
        return;
    }
    if (at(p, "dt") || at(p, "pt")) {
        m_atP += 2;
        expression();
        unresolved_name();
        return;
    }
    if (at(p, "fL") || at(p, "fp")) {
        function_param();
        return;
    }
    if (at(p, "gs")) {
        m_atP += 2;
        global = true;
    } else if (at(p, "mm_") || at(p, "pp_")) {
        m_atP += 3;
        expression();
        return;
    } else if (at(p, "sZ")) {
        m_atP += 2;
        if (*m_atP == 'T')
            template_param();
        else
            function_param();
        return;
    } else if (at(p, "tr")) {
        m_atP += 2;
        return;
    }

    p = m_atP;
    if (at(p, "na") || at(p, "nw")) {
        m_atP += 2;
        expressions_until('_');
        type();
        if (*m_atP == 'E')
            ++m_atP;
        else
            initializer();
        return;
    }
    bool unresolved = at(p, "dn") || at(p, "on") || at(p, "sr");

    if (!global && !unresolved && is_lower(*p)) {
        int operands = operator_name();
        for (int i = 0; i < operands; ++i)
            expression();
        return;
    }
    if (global)
        m_atP -= 2; // the unresolved name reads its own "gs"
    unresolved_name();
}

// <expression>* followed by the end character, which is consumed.
void Csignature::expressions_until(char end) {
    while (*m_atP != end)
        expression();
    ++m_atP;
}

// <expr-primary> ::= L <type> [n] <value> E
//                ::= L <mangled-name> E
// The value is decimal, or hexadecimal for floating types, and may be empty.
void Csignature::expr_primary() {
    Cnew_node node(this, SIGNATURE_expr_primary);
    require('L');
    if (at(m_atP, "_Z")) {
        mangled_name();
    } else {
        type();
        if (*m_atP == 'n')
            ++m_atP;
        while (is_digit(*m_atP) || (*m_atP >= 'a' && *m_atP <= 'f'))
            ++m_atP;
    }
    require('E');
}

// <initializer> ::= pi <expression>* E
void Csignature::initializer() {
    Cnew_node node(this, SIGNATURE_initializer);
    require('p');
    require('i');
    expressions_until('E');
}

// <function-param> ::= fp [<CV-qualifiers>] <compact-number>
//                  ::= fL <number> p [<CV-qualifiers>] <compact-number>
void Csignature::function_param() {
    Cnew_node node(this, SIGNATURE_function_param);
    require('f');
    if (*m_atP == 'L') {
        ++m_atP;
        number();
    }
    require('p');
    if (is_cv(*m_atP))
        cv_qualifiers();
    compact_number();
}

// <unresolved-name> ::= [gs] <base-unresolved-name>
//                   ::= sr <unresolved-type> <base-unresolved-name>
//                   ::= srN <unresolved-type> <unresolved-qualifier-level>* E
//                       <base-unresolved-name>
//                   ::= [gs] sr <unresolved-qualifier-level>* E <base-unresolved-name>
void Csignature::unresolved_name() {
    Cnew_node node(this, SIGNATURE_unresolved_name);
    bool global = false;
    if (*m_atP == 'g') {
        ++m_atP;
        require('s');
        global = true;
    }
    if (*m_atP == 's') {
        ++m_atP;
        require('r');
        if (*m_atP == 'N') {
            if (global)
                fail();
            ++m_atP;
            unresolved_type();
            while (*m_atP != 'E')
                unresolved_qualifier_level();
            ++m_atP;
        } else if (global) {
            while (*m_atP != 'E')
                unresolved_qualifier_level();
            ++m_atP;
        } else {
            unresolved_type();
        }
    }
    base_unresolved_name();
}

// <unresolved-type> ::= <template-param> | <decltype> | <substitution>
// A template parameter or a decltype here is a dictionary candidate.
void Csignature::unresolved_type() {
    Cnew_node node(this, SIGNATURE_unresolved_type);
    Csignature_node* selfP = m_nodeP;
    switch (*m_atP) {
    case 'S':
        substitution();
        break;
    case 'T':
        template_param();
        add_dictionary(selfP);
        break;
    case 'D':
        decltype1();
        add_dictionary(selfP);
        break;
    default:
        fail();
    }
}

// <unresolved-qualifier-level> ::= <simple-id>
void Csignature::unresolved_qualifier_level() {
    Cnew_node node(this, SIGNATURE_unresolved_qualifier_level);
    simple_id();
}

// <simple-id> ::= <source-name> [<template-args>]
void Csignature::simple_id() {
    Cnew_node node(this, SIGNATURE_simple_id);
    source_name();
    if (*m_atP == 'I')
        template_args();
}

// <base-unresolved-name> ::= <simple-id>
//                        ::= on <operator-name> [<template-args>]
//                        ::= dn <destructor-name>
void Csignature::base_unresolved_name() {
    Cnew_node node(this, SIGNATURE_base_unresolved_name);
    char c = *m_atP;
    if (c == 'd') {
        ++m_atP;
        require('n');
        destructor_name();
    } else if (c == 'o') {
        ++m_atP;
        require('n');
        operator_name();
        if (*m_atP == 'I')
            template_args();
    } else {
        simple_id();
    }
}

// <destructor-name> ::= <unresolved-type> | <simple-id>
void Csignature::destructor_name() {
    Cnew_node node(this, SIGNATURE_destructor_name);
    char c = *m_atP;
    if (c == 'D' || c == 'S' || c == 'T')
        unresolved_type();
    else
        simple_id();
}

// <decltype> ::= Dt <expression> E | DT <expression> E
void Csignature::decltype1() {
    Cnew_node node(this, SIGNATURE_decltype);
    require('D');
    if (*m_atP != 'T' && *m_atP != 't')
        fail();
    ++m_atP;
    expression();
    require('E');
}
