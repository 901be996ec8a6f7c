// Csignature parses one mangled C++ name at a time into a tree of nodes whose
// spans point into the caller's text, keeps the substitution dictionary that
// the name's back references index, and renders the tree for the comparisons
// that virtual-call resolution makes (same class, same function name). One
// object is meant to be created once and reused: its node store survives from
// parse to parse and only grows.
#ifndef LOPWORT_SIGNATURE_H
#define LOPWORT_SIGNATURE_H

#include "signature_buffer.h"

#include <cstdint>
#include <cstdio>

// One value per production; the numbers are fixed because dumps and tests
// show them.
enum signature_type {
    SIGNATURE_substitution = 0,
    SIGNATURE_number = 1,
    SIGNATURE_compact_number = 2,
    SIGNATURE_discriminator = 3,
    SIGNATURE_call_offset = 4,
    SIGNATURE_identifier = 5,
    SIGNATURE_data_member_prefix = 6,
    SIGNATURE_source_name = 7,
    SIGNATURE_digit = 8,
    SIGNATURE_operator_name = 9,
    SIGNATURE_ctor_dtor_name = 10,
    SIGNATURE_closure_type_name = 11,
    SIGNATURE_unnamed_type_name = 12,
    SIGNATURE_unqualified_name = 13,
    SIGNATURE_template_template_param = 14,
    SIGNATURE_template_param = 15,
    SIGNATURE_expr_primary = 16,
    SIGNATURE_template_prefix = 17,
    SIGNATURE_template_arg = 18,
    SIGNATURE_template_args = 19,
    SIGNATURE_simple_id = 20,
    SIGNATURE_destructor_name = 21,
    SIGNATURE_base_unresolved_name = 22,
    SIGNATURE_decltype = 23,
    SIGNATURE_unresolved_type = 24,
    SIGNATURE_unresolved_qualifier_level = 25,
    SIGNATURE_unresolved_name = 26,
    SIGNATURE_cv_qualifiers = 27,
    SIGNATURE_function_param = 28,
    SIGNATURE_initializer = 29,
    SIGNATURE_expression = 30,
    SIGNATURE_prefix = 31,
    SIGNATURE_nested_name = 32,
    SIGNATURE_local_name = 33,
    SIGNATURE_St = 34,
    SIGNATURE_unscoped_name = 35,
    SIGNATURE_unscoped_template_name = 36,
    SIGNATURE_name = 37,
    SIGNATURE_class_enum_type = 38,
    SIGNATURE_function_type = 39,
    SIGNATURE_array_type = 40,
    SIGNATURE_pointer_to_member_type = 41,
    SIGNATURE_fixed_point_type = 42,
    SIGNATURE_vector_type = 43,
    SIGNATURE_type = 44,
    SIGNATURE_bare_function_type = 45,
    SIGNATURE_java_resource = 46,
    SIGNATURE_special_name = 47,
    SIGNATURE_encoding = 48,
    SIGNATURE_mangled_name = 49,
    SIGNATURE_root = 50,
    SIGNATURE_abi_tag = 51
};
const int SIGNATURE_TYPES = 52;

// The name of a node type as dumps print it ("template_prefix"), or "???".
const char* signature_type_name(int type);

// Productions may nest this deep (a nested name's prefix counts one level per
// component, since each one deepens the tree); a deeper name fails like any
// malformed one, so that neither the parser nor the walks over its tree can
// exhaust the stack.
const int SIGNATURE_MAX_DEPTH = 1024;

// The store stops doubling here; a name that needs more nodes fails. Real
// names need a few hundred.
const int SIGNATURE_MAX_NODES = 1 << 22;

// A plain record: nodes own nothing and live in the store of a Csignature.
struct Csignature_node {
    signature_type m_type;
    const char* m_startP;
    const char* m_endP; // null while the node is open
    Csignature_node* m_parentP;
    // The first child; for a substitution, the dictionary entry it refers to
    // (a reference, not a child), or null for a standard abbreviation.
    Csignature_node* m_childP;
    Csignature_node* m_siblingP;
    Csignature_node* m_nextP; // next entry of the substitution dictionary
    int64_t m_value;

    void reverse();
    void dump(FILE* F, int indent, int levels) const;
};

// Exception types that never leave Csignature::signature.
class Csignature_error {};
class Csignature_expand {};

struct operatorT {
    const char* codeP;
    const char* nameP;
    int lth;
    int args;
};

class Csignature;

// Opens a node of the given type at the cursor as the newest child of the
// current node and makes it current; the destructor closes it at the cursor
// and makes its parent current again, also when a failure unwinds.
class Cnew_node {
  public:
    Csignature* m_signatureP;
    Cnew_node(Csignature* signatureP, signature_type type);
    ~Cnew_node();
    Cnew_node(const Cnew_node&) = delete;
    Cnew_node& operator=(const Cnew_node&) = delete;
};

class Csignature {
  public:
    Csignature_node* m_nodesP;
    Csignature_node* m_nodes_endP; // lowest node handed out; the store fills downward
    int m_nodes_max;
    Csignature_node* m_headP;
    Csignature_node* m_tailP;
    Csignature_node* m_nodeP; // the current node; after a successful parse, the root
    const char* m_atP;        // the cursor
    Csignature_buffer m_classname;
    Csignature_buffer m_template;
    Csignature_buffer m_function;
    Csignature_buffer m_function_name;

    Csignature();
    ~Csignature();
    Csignature(const Csignature&) = delete;
    Csignature& operator=(const Csignature&) = delete;

    // Parses a NUL-terminated text. Returns the position of its NUL when the
    // whole text is a name, null otherwise; either way the previous tree and
    // renderings are gone. After a failure the object holds no tree.
    const char* signature(const char* startP);
    int dictionary_count() const;
    void dump(FILE* F) const;
    // Nodes handed out by the last successful parse, the root included.
    long node_count() const;
    // Where the cursor stood when the last parse failed (for diagnosis), or
    // null after a success.
    const char* failure_position() const { return m_failP; }

    const char* get_classname();
    const char* get_template();
    const char* get_function();
    const char* get_function_name();
    int same_class(Csignature* otherP);
    int same_function(Csignature* otherP);
    int same_function_name(Csignature* otherP);

    static const operatorT* lookup_operator(char c1, char c2);
    static const operatorT operators[];

  private:
    friend class Cnew_node;

    // Dictionary entries by position, for constant-time look-up; as many
    // slots as the store has nodes, since every entry is a node.
    Csignature_node** m_entriesPP;
    int m_entries;
    int m_depth; // productions open, plus the prefix wraps of open nested names
    // Set when the nested name of the encoding being parsed took a
    // ref-qualifier, which only a function with parameters may have.
    bool m_ref_qualified;
    const char* m_failP;

    void allocate_store(int nodes);
    void parse(const char* startP);
    Csignature_node* get_node();
    void enter_level();
    [[noreturn]] void fail();
    void last_seen(signature_type type);
    void all_seen(signature_type type);
    void add_dictionary(Csignature_node* nodeP);
    void require(char c);

    // Names.
    void mangled_name();
    void encoding();
    void special_name();
    void call_offset();
    void java_resource();
    int name(bool function = false);
    void unscoped_name();
    void St();
    void nested_name(bool function);
    void prefix();
    void local_name(bool function);
    void unqualified_name(int maybe_data_member_prefix);
    void abi_tag();
    void source_name();
    void identifier(long lth);
    long number();
    long compact_number();
    int digit();
    void discriminator();
    int operator_name();
    void ctor_dtor_name();
    void unnamed_type_name();
    void closure_type_name();
    void substitution();

    // Types.
    void type();
    void cv_qualifiers(bool ref_qualifier = false);
    int class_enum_type();
    void function_type();
    void bare_function_type();
    void array_type();
    void pointer_to_member_type();
    void fixed_point_type();
    void vector_type();
    void template_param();
    void template_args();
    void template_arg();

    // Expressions.
    void expression();
    void expressions_until(char end);
    void expr_primary();
    void initializer();
    void function_param();
    void unresolved_name();
    void base_unresolved_name();
    void unresolved_type();
    void unresolved_qualifier_level();
    void simple_id();
    void destructor_name();
    void decltype1();
};

#endif
