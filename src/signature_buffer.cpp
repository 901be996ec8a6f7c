// The renderings of a parse tree: a walk that copies each node's text,
// expands every substitution into the text it refers to, and leaves out or
// rewrites certain nodes depending on what is rendered. The finished string
// is cached in the buffer until the next parse.
#include "signature_buffer.h"

#include "signature.h"
#include "xmalloc.h"

#include <cassert>
#include <cstdio>
#include <cstring>

buffer_mode Csignature_buffer::m_mode = buffer_unknownE;

namespace {

// Far above what any real name needs (a few hundred levels, a few thousand
// nodes); a walk that goes beyond either gives up and the rendering counts
// as absent.
const int kMaxExpandDepth = 4096;
const long kMaxVisits = 1L << 22;

// The cv-qualifiers of a member function sit at the very start of the first
// prefix of its nested name, so a prefix that refers back to the class holds
// them too. They are found on the first-child chain of the prefixes.
Csignature_node* member_qualifiers(Csignature_node* nodeP) {
    while (nodeP->m_type == SIGNATURE_prefix || nodeP->m_type == SIGNATURE_template_prefix) {
        Csignature_node* firstP = nodeP->m_childP;
        if (firstP == nullptr)
            return nullptr;
        if (firstP->m_type == SIGNATURE_cv_qualifiers)
            return firstP;
        nodeP = firstP;
    }
    return nullptr;
}

// The entity of a local name: the name after "Z <encoding> E" (none for a
// string literal).
Csignature_node* local_entity(Csignature_node* localP) {
    for (Csignature_node* childP = localP->m_childP; childP != nullptr; childP = childP->m_siblingP)
        if (childP->m_type == SIGNATURE_name)
            return childP;
    return nullptr;
}

// A reference whose parent builds a nested name stands for leading
// components of that name, not for a type.
bool in_prefix(const Csignature_node* referenceP) {
    const Csignature_node* parentP = referenceP->m_parentP;
    return parentP != nullptr &&
           (parentP->m_type == SIGNATURE_prefix || parentP->m_type == SIGNATURE_template_prefix ||
            parentP->m_type == SIGNATURE_nested_name);
}

} // namespace

Csignature_buffer::Csignature_buffer()
    : m_lth(-1), m_max(0), m_bufferP(nullptr), m_depth(0), m_visits(0), m_too_big(false),
      m_skipP(nullptr) {}

Csignature_buffer::~Csignature_buffer() {
    if (m_bufferP != nullptr)
        xfree1(reinterpret_cast<void**>(&m_bufferP));
}

// Grows by doubling from 128 bytes, never past the rendering cap: text that
// would reach the cap marks the rendering as too big instead.
void Csignature_buffer::append(const char* startP, long lth) {
    if (lth == 0)
        return;
    assert(lth > 0);
    if (m_too_big)
        return;
    if (lth >= SIGNATURE_RENDERING_MAX - m_lth) {
        m_too_big = true;
        return;
    }
    int needed = m_lth + static_cast<int>(lth);
    if (m_max <= needed) {
        int max = m_max != 0 ? m_max : 64;
        do
            max *= 2;
        while (max <= needed);
        m_bufferP = static_cast<char*>(xrealloc1(m_bufferP, static_cast<unsigned int>(max)));
        m_max = max;
    }
    memcpy(m_bufferP + m_lth, startP, static_cast<size_t>(lth));
    m_lth = needed;
}

// Appends the rendering of one subtree in the current mode.
void Csignature_buffer::expand(Csignature_node* nodeP) {
    if (m_too_big)
        return;
    if (++m_visits > kMaxVisits || m_depth >= kMaxExpandDepth) {
        m_too_big = true;
        return;
    }
    if (nodeP == m_skipP)
        return;
    switch (nodeP->m_type) {
    case SIGNATURE_substitution: {
        Csignature_node* refP = nodeP->m_childP;
        if (refP == nullptr) {
            // A standard abbreviation ("St", "Sa"...) stands for itself.
            append(nodeP->m_startP, nodeP->m_endP - nodeP->m_startP);
            return;
        }
        // Qualifiers of the member function are no part of the class that
        // the reference names: A::f(A const&) const must render its
        // parameter as "RK1A", as an overrider written without the
        // back reference does.
        Csignature_node* savedP = m_skipP;
        m_skipP = member_qualifiers(refP);
        ++m_depth;
        if (in_prefix(nodeP))
            expand_prefix_reference(refP);
        else
            expand(refP);
        --m_depth;
        m_skipP = savedP;
        return;
    }
    case SIGNATURE_type:
    case SIGNATURE_name:
        if (expand_class_reference(nodeP))
            return;
        break;
    case SIGNATURE_local_name:
        if (m_mode == buffer_function_nameE) {
            // The function a local class's member overrides is named without
            // the scope it is local to, as a member of any other class is.
            Csignature_node* entityP = local_entity(nodeP);
            if (entityP != nullptr) {
                ++m_depth;
                expand(entityP);
                --m_depth;
            }
            return;
        }
        if (m_mode == buffer_classnameE) {
            expand_local(nodeP);
            return;
        }
        break;
    case SIGNATURE_source_name:
        if (m_mode == buffer_function_nameE)
            m_mode = buffer_functionE;
        break;
    case SIGNATURE_template_param:
        if (m_mode == buffer_templateE) {
            // A source name "T<n>", so that every instance of a template
            // renders alike whatever its arguments.
            char nameA[32];
            int lth = snprintf(nameA, sizeof nameA, "T%ld", static_cast<long>(nodeP->m_value));
            char textA[48];
            int total = snprintf(textA, sizeof textA, "%d%s", lth, nameA);
            append(textA, total);
            return;
        }
        break;
    case SIGNATURE_template_args:
        if (m_mode == buffer_templateE)
            return;
        break;
    case SIGNATURE_cv_qualifiers:
        if (m_mode == buffer_classnameE)
            return;
        break;
    case SIGNATURE_prefix:
        if (m_mode == buffer_function_nameE) {
            // The qualifying classes and namespaces go, and with them the
            // member function's cv-qualifiers; the rest is the function. A
            // ref-qualifier stays: f() & and f() && are distinct functions,
            // and each overrides only its own kind.
            m_mode = buffer_functionE;
            Csignature_node* qualifiersP = member_qualifiers(nodeP);
            if (qualifiersP != nullptr && qualifiersP->m_endP > qualifiersP->m_startP) {
                const char* lastP = qualifiersP->m_endP - 1;
                if (*lastP == 'R' || *lastP == 'O')
                    append(lastP, 1);
            }
            return;
        }
        break;
    default:
        break;
    }
    ++m_depth;
    expand_children(nodeP);
    --m_depth;
}

// The default rule: the node's own text around its children, each child
// rendered in its place.
void Csignature_buffer::expand_children(Csignature_node* nodeP) {
    const char* p = nodeP->m_startP;
    for (Csignature_node* childP = nodeP->m_childP; childP != nullptr;
         childP = childP->m_siblingP) {
        append(p, childP->m_startP - p);
        expand(childP);
        p = childP->m_endP;
    }
    append(p, nodeP->m_endP - p);
}

// The children only, without the node's own text before the first and after
// the last: a nested name without its "N" and "E".
void Csignature_buffer::expand_inner(Csignature_node* nodeP) {
    const char* p = nullptr;
    ++m_depth;
    for (Csignature_node* childP = nodeP->m_childP; childP != nullptr;
         childP = childP->m_siblingP) {
        if (p != nullptr)
            append(p, childP->m_startP - p);
        expand(childP);
        p = childP->m_endP;
    }
    --m_depth;
}

// The function that a local class belongs to is part of the class's name,
// cv-qualifiers included, even where a class name otherwise leaves them out.
void Csignature_buffer::expand_in_function_mode(Csignature_node* nodeP) {
    buffer_mode saved = m_mode;
    if (m_mode == buffer_classnameE)
        m_mode = buffer_functionE;
    expand(nodeP);
    m_mode = saved;
}

// A reference that starts a nested name refers to its leading components.
// When the entry is a class type ("N1A1BE", "Z4mainE1A"), a nested name
// written in full would repeat only the class's components, without the
// "N…E" of the type or the function scope a local class's members take from
// their own local name.
void Csignature_buffer::expand_prefix_reference(Csignature_node* refP) {
    Csignature_node* nameP = nullptr;
    if (refP->m_type == SIGNATURE_type && refP->m_childP != nullptr &&
        refP->m_childP->m_type == SIGNATURE_class_enum_type)
        nameP = refP->m_childP->m_childP;
    Csignature_node* classP = nameP != nullptr ? nameP->m_childP : nullptr;
    if (classP != nullptr && classP->m_type == SIGNATURE_local_name) {
        Csignature_node* entityP = local_entity(classP);
        classP = entityP != nullptr ? entityP->m_childP : nullptr;
        if (classP == nullptr || classP->m_type != SIGNATURE_nested_name) {
            if (entityP == nullptr)
                expand(refP);
            else
                expand(entityP);
            return;
        }
    }
    if (classP != nullptr && classP->m_type == SIGNATURE_nested_name)
        expand_inner(classP);
    else
        expand(refP);
}

// A type or name that begins with a reference to a prefix names a class (or
// class template) by its prefix. Written in full, such a class is a nested
// name "N…E" when it has more than one component and is local to a function
// when the prefix was: the rendering writes it that way, so that it equals
// the rendering of the same type written without the reference.
bool Csignature_buffer::expand_class_reference(Csignature_node* nodeP) {
    Csignature_node* firstP = nodeP->m_childP;
    if (firstP == nullptr || firstP->m_type != SIGNATURE_substitution)
        return false;
    Csignature_node* refP = firstP->m_childP;
    if (refP == nullptr ||
        (refP->m_type != SIGNATURE_prefix && refP->m_type != SIGNATURE_template_prefix))
        return false;
    Csignature_node* localP = enclosing_local(refP);
    bool nested = components(refP) > 1;
    if (!nested && localP == nullptr)
        return false;
    ++m_depth;
    if (localP != nullptr)
        expand_local_part(localP, true);
    if (nested)
        append("N", 1);
    expand_children(nodeP);
    if (nested)
        append("E", 1);
    if (localP != nullptr)
        expand_local_part(localP, false);
    --m_depth;
    return true;
}

// The class that a member's prefix names, written as that class's type.
void Csignature_buffer::expand_class_as_type(Csignature_node* prefixP) {
    Csignature_node* localP = enclosing_local(prefixP);
    bool nested = components(prefixP) > 1;
    ++m_depth;
    if (localP != nullptr)
        expand_local_part(localP, true);
    if (nested)
        append("N", 1);
    expand(prefixP);
    if (nested)
        append("E", 1);
    if (localP != nullptr)
        expand_local_part(localP, false);
    --m_depth;
}

// A local name in a class name: the enclosing function in full, then the
// entity.
void Csignature_buffer::expand_local(Csignature_node* localP) {
    ++m_depth;
    expand_local_part(localP, true);
    if (Csignature_node* entityP = local_entity(localP))
        expand(entityP);
    expand_local_part(localP, false);
    --m_depth;
}

// What a local name holds before its entity ("Z <encoding> E", and the
// default-argument number) or after it (the discriminator, which tells apart
// local classes of one name in one function and so belongs to every class
// nested in them too).
void Csignature_buffer::expand_local_part(Csignature_node* localP, bool head) {
    Csignature_node* entityP = local_entity(localP);
    const char* p;
    const char* endP;
    if (head) {
        p = localP->m_startP;
        endP = entityP != nullptr ? entityP->m_startP : localP->m_endP;
    } else {
        p = entityP != nullptr ? entityP->m_endP : localP->m_endP;
        endP = localP->m_endP;
    }
    bool before = true;
    ++m_depth;
    for (Csignature_node* childP = localP->m_childP; childP != nullptr;
         childP = childP->m_siblingP) {
        if (childP == entityP) {
            before = false;
            continue;
        }
        if (before != head)
            continue;
        append(p, childP->m_startP - p);
        if (childP->m_type == SIGNATURE_encoding)
            expand_in_function_mode(childP);
        else
            expand(childP);
        p = childP->m_endP;
    }
    --m_depth;
    append(p, endP - p);
}

// The local name whose entity is the nested name holding a prefix: the
// prefix then names a class local to a function. Null when there is none.
Csignature_node* Csignature_buffer::enclosing_local(Csignature_node* prefixP) {
    Csignature_node* nodeP = prefixP->m_parentP;
    while (nodeP != nullptr &&
           (nodeP->m_type == SIGNATURE_prefix || nodeP->m_type == SIGNATURE_template_prefix)) {
        if (++m_visits > kMaxVisits) {
            m_too_big = true;
            return nullptr;
        }
        nodeP = nodeP->m_parentP;
    }
    if (nodeP == nullptr || nodeP->m_type != SIGNATURE_nested_name)
        return nullptr;
    nodeP = nodeP->m_parentP;
    if (nodeP == nullptr || nodeP->m_type != SIGNATURE_name)
        return nullptr;
    nodeP = nodeP->m_parentP;
    return nodeP != nullptr && nodeP->m_type == SIGNATURE_local_name ? nodeP : nullptr;
}

// The number of components of the name that a prefix (or a dictionary entry
// used as one) stands for, counted up to two, which is all the caller needs:
// one is a name at namespace scope or directly in std, written without
// "N…E" as a type; more is a nested name. "St" counts for nothing, every
// other standard abbreviation for one, and template arguments add nothing.
int Csignature_buffer::components(Csignature_node* nodeP) {
    int count = 0;
    while (nodeP != nullptr && count < 2) {
        if (++m_visits > kMaxVisits) {
            m_too_big = true;
            return count;
        }
        switch (nodeP->m_type) {
        case SIGNATURE_prefix:
        case SIGNATURE_template_prefix:
        case SIGNATURE_nested_name: {
            // Nested to the left: [component], [template prefix, arguments]
            // or [prefix, component], after the member's qualifiers.
            Csignature_node* firstP = nodeP->m_childP;
            if (firstP != nullptr && firstP->m_type == SIGNATURE_cv_qualifiers)
                firstP = firstP->m_siblingP;
            if (firstP == nullptr)
                return count;
            Csignature_node* secondP = firstP->m_siblingP;
            if (secondP != nullptr && secondP->m_type != SIGNATURE_template_args)
                ++count;
            nodeP = firstP;
            break;
        }
        case SIGNATURE_substitution:
            if (nodeP->m_childP == nullptr)
                return count + (nodeP->m_startP[1] == 't' ? 0 : 1);
            nodeP = nodeP->m_childP;
            break;
        case SIGNATURE_type:
        case SIGNATURE_class_enum_type:
        case SIGNATURE_name:
            if (nodeP->m_childP == nullptr)
                return count + 1;
            nodeP = nodeP->m_childP;
            break;
        case SIGNATURE_local_name:
            nodeP = local_entity(nodeP);
            break;
        default:
            return count + 1;
        }
    }
    return count;
}

// The class a name belongs to: for a member, the prefix before its last
// component; for a table, type information or thunk, the type or entity it
// is about.
Csignature_node* Csignature_buffer::classname_root(Csignature_node* nodeP) {
    bool under_type = false;
    while (nodeP != nullptr) {
        switch (nodeP->m_type) {
        case SIGNATURE_nested_name: {
            if (under_type)
                return nodeP;
            Csignature_node* firstP = nodeP->m_childP;
            if (firstP == nullptr)
                return nullptr;
            if (firstP->m_type == SIGNATURE_prefix)
                return firstP;
            if (firstP->m_type == SIGNATURE_template_prefix && firstP->m_childP != nullptr &&
                firstP->m_childP->m_type == SIGNATURE_prefix)
                return firstP->m_childP;
            return nullptr;
        }
        case SIGNATURE_special_name: {
            if (nodeP->m_startP[0] != 'T')
                return nullptr;
            Csignature_node* lastP = nodeP->m_childP;
            if (lastP == nullptr)
                return nullptr;
            while (lastP->m_siblingP != nullptr)
                lastP = lastP->m_siblingP;
            under_type = true;
            nodeP = lastP->m_childP;
            continue;
        }
        case SIGNATURE_local_name: {
            // A class local to a function is that function's scope and the
            // class's own name; a member of it has its class in the nested
            // name that follows the scope. Any other local entity (a static
            // variable) goes with the enclosing function's class.
            if (under_type)
                return nodeP;
            Csignature_node* entityP = local_entity(nodeP);
            if (entityP != nullptr && entityP->m_childP != nullptr &&
                entityP->m_childP->m_type == SIGNATURE_nested_name) {
                nodeP = entityP->m_childP;
                continue;
            }
            break;
        }
        case SIGNATURE_source_name:
            return under_type ? nodeP : nullptr;
        case SIGNATURE_name:
            // A class at namespace scope or directly in std, with its
            // template arguments if it is a template instance: the whole
            // name, as its members' prefix holds it ("1AIiE", "St9exception").
            if (under_type && nodeP->m_childP != nullptr) {
                signature_type first = nodeP->m_childP->m_type;
                if (first == SIGNATURE_unscoped_template_name || first == SIGNATURE_unscoped_name ||
                    first == SIGNATURE_substitution)
                    return nodeP;
            }
            break;
        default:
            break;
        }
        nodeP = nodeP->m_childP;
    }
    return nullptr;
}

// The template prefix of a template instance.
Csignature_node* Csignature_buffer::template_root1(Csignature_node* nodeP) {
    for (; nodeP != nullptr; nodeP = nodeP->m_childP) {
        if (nodeP->m_type == SIGNATURE_template_prefix)
            return nodeP;
        if (nodeP->m_type == SIGNATURE_nested_name) {
            Csignature_node* firstP = nodeP->m_childP;
            return firstP != nullptr && firstP->m_type == SIGNATURE_template_prefix ? firstP
                                                                                    : nullptr;
        }
    }
    return nullptr;
}

// What follows the name of an encoding: its parameter types.
Csignature_node* Csignature_buffer::template_root2(Csignature_node* nodeP) {
    for (; nodeP != nullptr; nodeP = nodeP->m_childP) {
        if (nodeP->m_type == SIGNATURE_special_name)
            return nullptr;
        if (nodeP->m_type == SIGNATURE_name)
            return nodeP->m_siblingP;
    }
    return nullptr;
}

// The function a name is about: the enclosing function of a local entity
// without parameters (a static variable, a string literal), the whole name
// otherwise (a member function of a local class is a function of its own),
// none for a special name.
Csignature_node* Csignature_buffer::function_root(Csignature_node* rootP) {
    for (Csignature_node* nodeP = rootP; nodeP != nullptr; nodeP = nodeP->m_childP) {
        if (nodeP->m_type == SIGNATURE_special_name)
            return nullptr;
        if (nodeP->m_type == SIGNATURE_name) {
            Csignature_node* localP = nodeP->m_childP;
            if (localP != nullptr && localP->m_type == SIGNATURE_local_name &&
                localP->m_childP != nullptr && localP->m_childP->m_type == SIGNATURE_encoding)
                return nodeP->m_siblingP != nullptr ? rootP : localP->m_childP;
        }
    }
    return rootP;
}

// 1 when the rendering was computed since the last parse (present or not).
int Csignature_buffer::cached(Csignature_node* rootP) {
    return m_lth != -1 || rootP == nullptr;
}

void Csignature_buffer::start(buffer_mode mode) {
    m_lth = 0;
    m_mode = mode;
    m_depth = 0;
    m_visits = 0;
    m_too_big = false;
    m_skipP = nullptr;
}

const char* Csignature_buffer::finish() {
    append("", 1);
    if (m_too_big) {
        m_lth = -2;
        return nullptr;
    }
    return m_bufferP;
}

const char* Csignature_buffer::get_classname(Csignature_node* rootP) {
    if (cached(rootP))
        return m_lth >= 0 ? m_bufferP : nullptr;
    Csignature_node* subP = classname_root(rootP);
    if (subP == nullptr) {
        m_lth = -2;
        return nullptr;
    }
    start(buffer_classnameE);
    if (subP->m_type == SIGNATURE_nested_name || subP->m_type == SIGNATURE_local_name) {
        append("_Z", 2);
        expand(subP);
    } else if (subP->m_type == SIGNATURE_prefix && enclosing_local(subP) != nullptr) {
        // A member of a local class: the class as its own table names it.
        append("_Z", 2);
        expand_class_as_type(subP);
    } else {
        append("_ZN", 3);
        expand(subP);
        append("E", 1);
    }
    return finish();
}

const char* Csignature_buffer::get_template(Csignature_node* rootP) {
    if (cached(rootP))
        return m_lth >= 0 ? m_bufferP : nullptr;
    Csignature_node* subP = template_root1(rootP);
    if (subP == nullptr) {
        m_lth = -2;
        return nullptr;
    }
    start(buffer_templateE);
    append("_ZN", 3);
    expand(subP);
    append("IEE", 3);
    Csignature_node* parametersP = template_root2(rootP);
    if (parametersP != nullptr)
        expand(parametersP);
    return finish();
}

const char* Csignature_buffer::get_function(Csignature_node* rootP) {
    return get_function1(rootP, buffer_functionE);
}

const char* Csignature_buffer::get_function_name(Csignature_node* rootP) {
    return get_function1(rootP, buffer_function_nameE);
}

const char* Csignature_buffer::get_function1(Csignature_node* rootP, buffer_mode mode) {
    if (cached(rootP))
        return m_lth >= 0 ? m_bufferP : nullptr;
    Csignature_node* subP = function_root(rootP);
    if (subP == nullptr) {
        m_lth = -2;
        return nullptr;
    }
    start(mode);
    if (subP != rootP)
        append("_Z", 2);
    expand(subP);
    return finish();
}
