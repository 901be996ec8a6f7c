// Renderings of a parsed mangled name back into canonical mangled text: the
// class a name belongs to, the template it instantiates, the function it
// names, and that function without its qualifying classes. Substitutions are
// expanded, so two names that denote the same entity render to the same bytes
// whatever abbreviations their own texts used, and comparing entities becomes
// a string comparison. Each rendering lives in its own buffer and is computed
// at most once per parse.
#ifndef LOPWORT_SIGNATURE_BUFFER_H
#define LOPWORT_SIGNATURE_BUFFER_H

struct Csignature_node;

// What a walk over the tree is producing; it decides which nodes are left out
// or rewritten.
enum buffer_mode {
    buffer_unknownE = 0,
    buffer_classnameE = 1,
    buffer_templateE = 2,
    buffer_functionE = 3,
    buffer_function_nameE = 4
};

// No rendering of a real name comes near this many bytes (the terminating NUL
// included); one that would reach it counts as absent. Nested substitutions
// can make a short name expand exponentially, and this keeps such a name from
// taking the memory with it.
const int SIGNATURE_RENDERING_MAX = 65536;

class Csignature_buffer {
  public:
    // -1: not computed since the last parse; -2: computed and absent;
    // otherwise the bytes held, the terminating NUL included.
    int m_lth;
    int m_max;
    char* m_bufferP;

    // Shared by every buffer: a rendering sets it before it walks a tree, and
    // the function-name walk switches it to function mode part way.
    static buffer_mode m_mode;

    Csignature_buffer();
    ~Csignature_buffer();
    Csignature_buffer(const Csignature_buffer&) = delete;
    Csignature_buffer& operator=(const Csignature_buffer&) = delete;

    void invalidate() { m_lth = -1; }
    void append(const char* startP, long lth);
    void expand(Csignature_node* nodeP);

    static Csignature_node* classname_root(Csignature_node* nodeP);
    static Csignature_node* template_root1(Csignature_node* nodeP);
    static Csignature_node* template_root2(Csignature_node* nodeP);
    static Csignature_node* function_root(Csignature_node* nodeP);

    // Each takes the root of a parse tree and returns the rendering, or null
    // when the name has no such rendering. The string stays valid until the
    // buffer is invalidated and asked again.
    const char* get_classname(Csignature_node* rootP);
    const char* get_template(Csignature_node* rootP);
    const char* get_function(Csignature_node* rootP);
    const char* get_function_name(Csignature_node* rootP);

  private:
    const char* get_function1(Csignature_node* rootP, buffer_mode mode);
    int cached(Csignature_node* rootP);
    void start(buffer_mode mode);
    const char* finish();
    void expand_children(Csignature_node* nodeP);
    void expand_inner(Csignature_node* nodeP);
    void expand_in_function_mode(Csignature_node* nodeP);
    bool expand_class_reference(Csignature_node* nodeP);
    void expand_prefix_reference(Csignature_node* refP);
    void expand_local(Csignature_node* localP);
    void expand_local_part(Csignature_node* localP, bool head);
    void expand_class_as_type(Csignature_node* prefixP);
    int components(Csignature_node* nodeP);
    Csignature_node* enclosing_local(Csignature_node* prefixP);

    // Guards of one rendering against hostile trees: the nesting of expand
    // (references can chain far deeper than any tree), the number of nodes
    // visited (chains of references that add almost nothing can still take
    // quadratic time), and whether the size cap was hit.
    int m_depth;
    long m_visits;
    bool m_too_big;
    // A member function's cv-qualifiers, left out of the current expansion
    // of a reference to its class (see expand).
    Csignature_node* m_skipP;
};

#endif
