// The machinery of the mangled-name parser: the node store and its growth,
// opening and closing nodes, the two wraps that re-parent children, the
// substitution dictionary, the entry point with its retry on a full store,
// the reversal of child lists, the dump, and the operations that hand the
// finished tree to the renderings. The productions themselves live in
// signature_grammar.cpp.
#include "signature.h"

#include "xmalloc.h"

#include <cassert>
#include <cstring>

namespace {

const char* const g_type_names[SIGNATURE_TYPES] = {
    "substitution",
    "number",
    "compact_number",
    "discriminator",
    "call_offset",
    "identifier",
    "data_member_prefix",
    "source_name",
    "digit",
    "operator_name",
    "ctor_dtor_name",
    "closure_type_name",
    "unnamed_type_name",
    "unqualified_name",
    "template_template_param",
    "template_param",
    "expr_primary",
    "template_prefix",
    "template_arg",
    "template_args",
    "simple_id",
    "destructor_name",
    "base_unresolved_name",
    "decltype",
    "unresolved_type",
    "unresolved_qualifier_level",
    "unresolved_name",
    "cv_qualifiers",
    "function_param",
    "initializer",
    "expression",
    "prefix",
    "nested_name",
    "local_name",
    "St",
    "unscoped_name",
    "unscoped_template_name",
    "name",
    "class_enum_type",
    "function_type",
    "array_type",
    "pointer_to_member_type",
    "fixed_point_type",
    "vector_type",
    "type",
    "bare_function_type",
    "java_resource",
    "special_name",
    "encoding",
    "mangled_name",
    "root",
    "abi_tag",
};

const int kFirstStore = 256;

} // namespace

const char* signature_type_name(int type) {
    if (type < 0 || type >= SIGNATURE_TYPES)
        return "???";
    return g_type_names[type];
}

// ---------------------------------------------------------------- nodes

// Child lists are built newest first; once the parse is complete every list
// is turned around so that children follow the text. A substitution's child
// pointer is a reference to a node reversed in its own place.
void Csignature_node::reverse() {
    if (m_type == SIGNATURE_substitution)
        return;
    Csignature_node* doneP = nullptr;
    Csignature_node* nodeP = m_childP;
    while (nodeP != nullptr) {
        nodeP->reverse();
        Csignature_node* nextP = nodeP->m_siblingP;
        nodeP->m_siblingP = doneP;
        doneP = nodeP;
        nodeP = nextP;
    }
    m_childP = doneP;
}

// A substitution is printed as a leaf: its child pointer is a reference to an
// earlier node whose siblings may well lead back to the substitution itself.
void Csignature_node::dump(FILE* F, int indent, int levels) const {
    fprintf(F, "%*s%p %s", indent, "", static_cast<const void*>(this), signature_type_name(m_type));
    if (m_endP != nullptr) {
        fputs(" \"", F);
        fwrite(m_startP, 1, static_cast<size_t>(m_endP - m_startP), F);
        fputc('"', F);
    } else {
        fprintf(F, " '%s'", m_startP);
    }
    if (m_value != 0)
        fprintf(F, " (%ld)", static_cast<long>(m_value));
    fputc('\n', F);
    if (levels == 0 || m_type == SIGNATURE_substitution)
        return;
    for (const Csignature_node* childP = m_childP; childP != nullptr; childP = childP->m_siblingP)
        childP->dump(F, indent + 2, levels);
}

// ---------------------------------------------------------------- Cnew_node

Cnew_node::Cnew_node(Csignature* signatureP, signature_type type) : m_signatureP(signatureP) {
    signatureP->enter_level();
    Csignature_node* nodeP = signatureP->get_node();
    Csignature_node* parentP = signatureP->m_nodeP;
    nodeP->m_type = type;
    nodeP->m_startP = signatureP->m_atP;
    nodeP->m_endP = nullptr;
    nodeP->m_parentP = parentP;
    nodeP->m_siblingP = parentP->m_childP;
    parentP->m_childP = nodeP;
    signatureP->m_nodeP = nodeP;
}

Cnew_node::~Cnew_node() {
    Csignature_node* nodeP = m_signatureP->m_nodeP;
    nodeP->m_endP = m_signatureP->m_atP;
    m_signatureP->m_nodeP = nodeP->m_parentP;
    --m_signatureP->m_depth;
}

// ---------------------------------------------------------------- Csignature

Csignature::Csignature()
    : m_nodesP(nullptr), m_nodes_endP(nullptr), m_nodes_max(0), m_headP(nullptr),
      m_tailP(nullptr), m_nodeP(nullptr), m_atP(nullptr), m_entriesPP(nullptr), m_entries(0),
      m_depth(0), m_ref_qualified(false), m_failP(nullptr) {}

Csignature::~Csignature() {
    if (m_nodesP != nullptr)
        xfree1(reinterpret_cast<void**>(&m_nodesP));
    if (m_entriesPP != nullptr)
        xfree1(reinterpret_cast<void**>(&m_entriesPP));
}

void Csignature::allocate_store(int nodes) {
    if (m_nodesP != nullptr)
        xfree1(reinterpret_cast<void**>(&m_nodesP));
    if (m_entriesPP != nullptr)
        xfree1(reinterpret_cast<void**>(&m_entriesPP));
    m_nodesP = static_cast<Csignature_node*>(
        xmalloc1(static_cast<unsigned int>(sizeof(Csignature_node)) * static_cast<unsigned>(nodes)));
    m_entriesPP = static_cast<Csignature_node**>(
        xmalloc1(static_cast<unsigned int>(sizeof(Csignature_node*)) * static_cast<unsigned>(nodes)));
    m_nodes_max = nodes;
    m_nodes_endP = m_nodesP + nodes;
}

Csignature_node* Csignature::get_node() {
    if (m_nodes_endP == m_nodesP)
        throw Csignature_expand();
    Csignature_node* nodeP = --m_nodes_endP;
    nodeP->m_parentP = nullptr;
    nodeP->m_childP = nullptr;
    nodeP->m_siblingP = nullptr;
    nodeP->m_nextP = nullptr;
    nodeP->m_value = 0;
    return nodeP;
}

// Called before a node is opened, so that a name nested too deeply fails
// before anything changes.
void Csignature::enter_level() {
    if (m_depth >= SIGNATURE_MAX_DEPTH)
        fail();
    ++m_depth;
}

void Csignature::fail() {
    throw Csignature_error();
}

void Csignature::require(char c) {
    if (*m_atP != c)
        fail();
    ++m_atP;
}

// Wraps the current node's newest child X in a new node W of the given type,
// which takes X's place among the children.
void Csignature::last_seen(signature_type type) {
    Csignature_node* xP = m_nodeP->m_childP;
    assert(xP != nullptr);
    xP->m_endP = m_atP;
    Csignature_node* wP = get_node();
    wP->m_type = type;
    wP->m_parentP = xP->m_parentP;
    wP->m_startP = xP->m_startP;
    wP->m_endP = m_atP;
    wP->m_siblingP = xP->m_siblingP;
    wP->m_childP = xP;
    xP->m_parentP = wP;
    xP->m_siblingP = nullptr;
    m_nodeP->m_childP = wP;
}

// Wraps every child of the current node in one new node of the given type,
// which becomes the only child. The children stay newest first.
void Csignature::all_seen(signature_type type) {
    Csignature_node* xP = m_nodeP->m_childP;
    assert(xP != nullptr);
    xP->m_endP = m_atP;
    Csignature_node* wP = get_node();
    wP->m_type = type;
    wP->m_parentP = m_nodeP;
    wP->m_endP = m_atP;
    wP->m_childP = xP;
    Csignature_node* earliestP = xP;
    for (Csignature_node* nodeP = xP; nodeP != nullptr; nodeP = nodeP->m_siblingP) {
        nodeP->m_parentP = wP;
        earliestP = nodeP;
    }
    wP->m_startP = earliestP->m_startP;
    m_nodeP->m_childP = wP;
}

void Csignature::add_dictionary(Csignature_node* nodeP) {
    assert(nodeP->m_type == SIGNATURE_template_template_param ||
           nodeP->m_type == SIGNATURE_template_prefix ||
           nodeP->m_type == SIGNATURE_unresolved_type || nodeP->m_type == SIGNATURE_prefix ||
           nodeP->m_type == SIGNATURE_unscoped_template_name || nodeP->m_type == SIGNATURE_type);
    // Every entry is a distinct node of the store, so the index has room.
    assert(m_entries < m_nodes_max);
    nodeP->m_nextP = nullptr;
    if (m_headP == nullptr)
        m_headP = nodeP;
    else
        m_tailP->m_nextP = nodeP;
    m_tailP = nodeP;
    m_entriesPP[m_entries++] = nodeP;
}

// <substitution> ::= S_ | S <seq-id> _ | Sa | Sb | Sd | Si | So | Ss | St
// A seq-id is base 36 in digits and upper-case letters; S_ is the first
// entry and S<n>_ the entry n + 1.
void Csignature::substitution() {
    Cnew_node node(this, SIGNATURE_substitution);
    require('S');
    switch (*m_atP) {
    case 'a':
    case 'b':
    case 'd':
    case 'i':
    case 'o':
    case 's':
    case 't':
        ++m_atP;
        m_nodeP->m_value = -1;
        return;
    default:
        break;
    }
    int64_t position = 0;
    if (*m_atP != '_') {
        int64_t value = 0;
        for (;;) {
            char c = *m_atP;
            int worth;
            if (c >= '0' && c <= '9')
                worth = c - '0';
            else if (c >= 'A' && c <= 'Z')
                worth = c - 'A' + 10;
            else
                break;
            // Far beyond any dictionary: the reference cannot resolve.
            if (value > (int64_t(1) << 40))
                fail();
            value = value * 36 + worth;
            ++m_atP;
        }
        if (*m_atP != '_')
            fail();
        position = value + 1;
    }
    ++m_atP;
    m_nodeP->m_value = position;
    if (position >= m_entries)
        fail();
    m_nodeP->m_childP = m_entriesPP[position];
}

void Csignature::parse(const char* startP) {
    m_nodes_endP = m_nodesP + m_nodes_max;
    m_headP = nullptr;
    m_tailP = nullptr;
    m_entries = 0;
    m_depth = 0;
    m_ref_qualified = false;
    m_nodeP = nullptr;
    Csignature_node* rootP = get_node();
    rootP->m_type = SIGNATURE_root;
    rootP->m_startP = startP;
    rootP->m_endP = nullptr;
    m_nodeP = rootP;
    m_atP = startP;
    mangled_name();
}

const char* Csignature::signature(const char* startP) {
    m_classname.invalidate();
    m_template.invalidate();
    m_function.invalidate();
    m_function_name.invalidate();
    m_failP = nullptr;
    if (m_nodes_max == 0)
        allocate_store(kFirstStore);
    bool ok = false;
    if (startP != nullptr) {
        for (;;) {
            try {
                parse(startP);
                ok = true;
                break;
            } catch (const Csignature_expand&) {
                if (m_nodes_max >= SIGNATURE_MAX_NODES)
                    break;
                allocate_store(m_nodes_max * 2);
            } catch (const Csignature_error&) {
                break;
            }
        }
    }
    if (ok) {
        assert(m_nodeP->m_type == SIGNATURE_root && "m_nodeP->m_type == SIGNATURE_root");
        m_nodeP->m_endP = m_atP;
        m_nodeP->reverse();
        if (*m_atP == '\0')
            return m_atP;
    }
    // Whatever was built is dropped, so that no rendering or comparison can
    // see a partial tree.
    m_failP = startP != nullptr ? m_atP : nullptr;
    m_nodeP = nullptr;
    m_headP = nullptr;
    m_tailP = nullptr;
    m_entries = 0;
    m_nodes_endP = m_nodesP + m_nodes_max;
    return nullptr;
}

int Csignature::dictionary_count() const {
    return m_entries;
}

long Csignature::node_count() const {
    if (m_nodeP == nullptr)
        return 0;
    return static_cast<long>(m_nodesP + m_nodes_max - m_nodes_endP);
}

void Csignature::dump(FILE* F) const {
    fprintf(F, "%ld nodes in signature\n", node_count());
    if (m_nodeP != nullptr)
        m_nodeP->dump(F, 0, 1);
}

// ---------------------------------------------------------------- renderings

const char* Csignature::get_classname() {
    return m_nodeP != nullptr ? m_classname.get_classname(m_nodeP) : nullptr;
}

const char* Csignature::get_template() {
    return m_nodeP != nullptr ? m_template.get_template(m_nodeP) : nullptr;
}

const char* Csignature::get_function() {
    return m_nodeP != nullptr ? m_function.get_function(m_nodeP) : nullptr;
}

const char* Csignature::get_function_name() {
    return m_nodeP != nullptr ? m_function_name.get_function_name(m_nodeP) : nullptr;
}

// Both renderings must exist; this object's is computed first, and the
// other's only when this one exists.
static int same_rendering(const char* oneP, Csignature* otherP,
                          const char* (Csignature::*getP)()) {
    if (oneP == nullptr || otherP == nullptr)
        return 0;
    const char* twoP = (otherP->*getP)();
    return twoP != nullptr && strcmp(oneP, twoP) == 0;
}

int Csignature::same_class(Csignature* otherP) {
    return same_rendering(get_classname(), otherP, &Csignature::get_classname);
}

int Csignature::same_function(Csignature* otherP) {
    return same_rendering(get_function(), otherP, &Csignature::get_function);
}

int Csignature::same_function_name(Csignature* otherP) {
    return same_rendering(get_function_name(), otherP, &Csignature::get_function_name);
}
