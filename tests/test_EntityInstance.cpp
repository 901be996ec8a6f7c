// The object model: attributes and their special ids, relation lists,
// containers and the path of containers.
#include "EntityClass.h"
#include "EntityInstance.h"
#include "RelationClass.h"
#include "RelationInstance.h"
#include "stringcache.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct Model {
    CEntityClass* gf = new CEntityClass("GF");
    CEntityClass* file = new CEntityClass("file");
    CRelationClass* contain = new CRelationClass("contain");
    CRelationClass* call = new CRelationClass("call");

    CEntityInstance* entity(const char* id, const char* label = nullptr, CEntityClass* c = nullptr) {
        CEntityInstance* e = (c ? c : gf)->newEntity(stringCache(id));
        if (label)
            e->putAttribute("label", stringCache(label));
        return e;
    }
    void contains(CEntityInstance* outer, CEntityInstance* inner) {
        new CRelationInstance(contain, outer, inner);
    }
};

std::string path(CEntityInstance* e) {
    char* cursor = nullptr;
    if (!e->buildPath(&cursor, 0))
        return "<none>";
    std::string buf(reinterpret_cast<uintptr_t>(cursor) + 1, '?');
    char* p = &buf[0];
    e->buildPath(&p, 1);
    EXPECT_EQ(static_cast<size_t>(p - &buf[0]) + 1, buf.size());
    buf.pop_back();
    return buf;
}

TEST(EntityInstance, SpecialAttributesLiveInFields) {
    Model m;
    CEntityInstance* e = m.entity("f");
    EXPECT_EQ(e->getLabel(), nullptr);
    e->putAttribute("label", "f");
    e->putAttribute("lineno", "42");
    e->putAttribute("file", "/src/a.c");
    e->putAttribute("mangle", "_Z1fv");
    e->putAttribute("mangle", "_Z1gv");
    EXPECT_STREQ(e->getLabel(), "f");
    EXPECT_EQ(e->getAttribute("label"), nullptr);
    EXPECT_EQ(e->m_lineno, 42);
    EXPECT_EQ(e->getAttribute("lineno"), nullptr);
    EXPECT_STREQ(e->m_fullpathP, "/src/a.c");
    EXPECT_STREQ(e->getAttribute("file"), "/src/a.c");
    EXPECT_STREQ(e->getAttribute("mangle"), "_Z1gv"); // the newest wins
    EXPECT_STREQ(e->getType(), "GF");
}

TEST(EntityInstance, LinenoReadsLikeADecimalPrefix) {
    struct Row {
        const char* text;
        int line;
    } rows[] = {{"12abc", 12}, {"abc", 0}, {"  -7", -7}, {"+5", 5}, {"", 0},
                {"99999999999999999999", 2147483647}, {"-99999999999999999999", -2147483647 - 1}};
    Model m;
    for (const Row& r : rows) {
        CEntityInstance* e = m.entity("x");
        e->putAttribute("lineno", r.text);
        EXPECT_EQ(e->m_lineno, r.line) << r.text;
    }
    // Without a value the entity keeps having no line.
    CEntityInstance* e = m.entity("y");
    e->putAttribute("lineno", nullptr);
    EXPECT_EQ(e->m_lineno, NO_LINENO);
}

TEST(EntityInstance, ClassLabelsAndRelationAttributes) {
    Model m;
    m.gf->putAttribute("class_label", "Global function");
    EXPECT_STREQ(m.gf->getLabel(), "Global function");
    EXPECT_STREQ(m.gf->getAttribute("class_label"), "Global function");
    CEntityInstance* a = m.entity("a");
    EXPECT_STREQ(a->getClassLabel(), "Global function");
    CRelationInstance* r = new CRelationInstance(m.call, a, a);
    EXPECT_EQ(r->getRelationClass(), m.call);
    // A self-relation sits in both lists.
    EXPECT_EQ(a->getSrcRelList(), r);
    EXPECT_EQ(a->getDstRelList(), r);
}

TEST(EntityInstance, ListsRunNewestFirst) {
    Model m;
    CEntityInstance* a = m.entity("a");
    CEntityInstance* b = m.entity("b");
    CEntityInstance* c = m.entity("c");
    EXPECT_EQ(m.gf->m_entityInstancesP, c);
    EXPECT_EQ(c->m_nextInClassP, b);
    CRelationInstance* r1 = new CRelationInstance(m.call, a, b);
    CRelationInstance* r2 = new CRelationInstance(m.call, a, c);
    EXPECT_EQ(a->getSrcRelList(), r2);
    EXPECT_EQ(r2->m_next_srcP, r1);
    EXPECT_EQ(a->getRelationTo(m.call, b), r1);
    EXPECT_EQ(a->getRelationTo(m.contain, b), nullptr);
}

TEST(EntityInstance, ContainerIsTheLastContainFact) {
    Model m;
    CEntityInstance* f = m.entity("f");
    EXPECT_EQ(f->getParent(), nullptr);
    EXPECT_EQ(path(f), "<none>");
    CEntityInstance* a = m.entity("a.c", "a.c", m.file);
    CEntityInstance* b = m.entity("b.c", "b.c", m.file);
    new CRelationInstance(m.call, b, f);
    m.contains(a, f);
    m.contains(b, f);
    EXPECT_EQ(f->getParent(), b);
    EXPECT_EQ(path(f), "b.c");
}

TEST(EntityInstance, PathJoinsContainersOutermostFirst) {
    Model m;
    CEntityInstance* src = m.entity("src", "src", m.file);
    CEntityInstance* ac = m.entity("a.c", "a.c", m.file);
    CEntityInstance* f = m.entity("f", "f");
    m.contains(src, ac);
    m.contains(ac, f);
    EXPECT_EQ(path(f), "src/a.c");
    EXPECT_EQ(path(ac), "src");
    // An unlabelled container contributes an empty component.
    CEntityInstance* anon = m.entity("anon", nullptr, m.file);
    m.contains(anon, src);
    EXPECT_EQ(path(f), "/src/a.c");
}

TEST(EntityInstance, PathSurvivesLongChainsAndCycles) {
    Model m;
    const int n = 1000000;
    CEntityInstance* inner = m.entity("leaf", "leaf");
    CEntityInstance* cur = inner;
    for (int i = 0; i < n; ++i) {
        CEntityInstance* outer = m.entity(("c" + std::to_string(i)).c_str(), "d", m.file);
        m.contains(outer, cur);
        cur = outer;
    }
    std::string p = path(inner);
    EXPECT_EQ(p.size(), static_cast<size_t>(2 * n - 1));

    // a contains b contains a: the walk stops where it comes round again.
    CEntityInstance* a = m.entity("ca", "A", m.file);
    CEntityInstance* b = m.entity("cb", "B", m.file);
    m.contains(a, b);
    m.contains(b, a);
    EXPECT_EQ(path(a), "B");
    CEntityInstance* self = m.entity("self", "S", m.file);
    m.contains(self, self);
    EXPECT_EQ(path(self), "<none>");
}

} // namespace
