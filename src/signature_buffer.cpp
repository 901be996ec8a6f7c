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
        expand(refP);
        --m_depth;
        m_skipP = savedP;
        return;
    }
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
            // member function's qualifiers; the rest is the function.
            m_mode = buffer_functionE;
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
        case SIGNATURE_source_name:
            return under_type ? nodeP : nullptr;
        case SIGNATURE_name:
            // The table of a class template at namespace scope: the class is
            // the template with its arguments, as its members' prefix is.
            if (under_type && nodeP->m_childP != nullptr &&
                nodeP->m_childP->m_type == SIGNATURE_unscoped_template_name)
                return nodeP;
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

// The function a name is about: the enclosing function of a local entity,
// the whole name otherwise, none for a special name.
Csignature_node* Csignature_buffer::function_root(Csignature_node* rootP) {
    for (Csignature_node* nodeP = rootP; nodeP != nullptr; nodeP = nodeP->m_childP) {
        if (nodeP->m_type == SIGNATURE_special_name)
            return nullptr;
        if (nodeP->m_type == SIGNATURE_name) {
            Csignature_node* localP = nodeP->m_childP;
            if (localP != nullptr && localP->m_type == SIGNATURE_local_name &&
                localP->m_childP != nullptr && localP->m_childP->m_type == SIGNATURE_encoding)
                return localP->m_childP;
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
    if (subP->m_type == SIGNATURE_nested_name) {
        append("_Z", 2);
        expand(subP);
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
