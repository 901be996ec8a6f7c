// Virtual-call resolution: the overriders that reaching a virtually called
// function reaches too, found through the virtual-table and type-information
// facts and the functions' mangled names.
#ifndef LOPWORT_LOPWORT_VIRTUAL_H
#define LOPWORT_LOPWORT_VIRTUAL_H

#include "xmalloc.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

class CEntityClass;
class CEntityInstance;
class CRelationInstance;
class Csignature;
class CResolver;

// An open-addressed table of pointer-sized keys, where a key equal to Key()
// marks an empty slot. The resolver looks up hundreds of thousands of
// entities and classes, and each look-up is usually a cache miss: one here,
// not one for the bucket and another for the node.
template <class Key, class Value, class Hash> class CFlatTable {
  public:
    CFlatTable() : m_slots(64), m_count(0) {}

    Value* find(const Key& key) {
        size_t mask = m_slots.size() - 1;
        for (size_t i = Hash()(key) & mask;; i = (i + 1) & mask) {
            Slot& s = m_slots[i];
            if (s.key == key)
                return &s.value;
            if (s.key == Key())
                return nullptr;
        }
    }
    // Enters a key that is not in the table yet.
    Value& add(const Key& key, const Value& value) {
        if ((m_count + 1) * 4 > m_slots.size() * 3)
            grow();
        ++m_count;
        return place(m_slots, key, value);
    }

  private:
    struct Slot {
        Key key;
        Value value;
    };
    typedef std::vector<Slot, TableAllocator<Slot>> Slots;
    Slots m_slots;
    size_t m_count;

    static Value& place(Slots& slots, const Key& key, const Value& value) {
        size_t mask = slots.size() - 1;
        size_t i = Hash()(key) & mask;
        while (!(slots[i].key == Key()))
            i = (i + 1) & mask;
        slots[i] = {key, value};
        return slots[i].value;
    }
    void grow() {
        Slots slots(m_slots.size() * 2);
        for (const Slot& s : m_slots) {
            if (!(s.key == Key()))
                place(slots, s.key, s.value);
        }
        m_slots.swap(slots);
    }
};

struct CPointerHash {
    size_t operator()(const void* p) const {
        return static_cast<size_t>((reinterpret_cast<uintptr_t>(p) * 0x9e3779b97f4a7c15ull) >> 20);
    }
};

// The resolution of one function, taken from its start to its end one
// overrider at a time. It hands out only unmarked entities, and the caller
// must reach (mark) each before it asks for the next: a finished walk below
// a class counts everything it handed out as marked. The depth-first walk
// also walks everything behind each one first.
class CResolution {
  public:
    // The next overrider to reach, or null when the resolution is complete.
    CEntityInstance* next();
    // The virtual table whose slot held the overrider next() returned last.
    CEntityInstance* table() const { return m_tableP; }

  private:
    friend class CResolver;

    // One class on the way down: its type information's address, whose
    // incoming relations lead to the directly derived classes.
    struct Level {
        enum State { Fresh, Walking };
        CEntityInstance* addrP;
        CEntityInstance* ownerP;    // the type information the address belongs to
        CRelationInstance* cursorP; // the next incoming relation to look at
        State state;
        // Whether every derived class met so far had its table searched in
        // this resolution and is known to have everything below it done.
        bool complete;
    };

    CResolver* m_resolverP = nullptr;
    const char* m_nameP = nullptr;              // the function's name, interned
    std::vector<CEntityInstance*> m_rootAddrs;  // type-information addresses to descend from
    size_t m_nextRoot = 0;
    std::vector<Level> m_levels;
    std::vector<CEntityInstance*> m_entered;    // type information whose table was searched
    std::unordered_set<CEntityInstance*> m_enteredSet; // the same, once there are many
    CRelationInstance* m_slotP = nullptr;       // the next slot of the current table
    CEntityInstance* m_tableP = nullptr;        // the table of the slot handed out last

    void reset(const char* nameP);
    void addRoot(CEntityInstance* vtableP);
    void push(CEntityInstance* addrP);
    bool entered(CEntityInstance* typeinfoP) const;
    void enter(CEntityInstance* typeinfoP);
    CEntityInstance* nextSlot();
};

// The state of the resolutions of one search: what is known of each mangled
// name, the tables by class name, and which classes have everything of a
// name below them reached. The search that owns it creates it and drops it
// at its end; nothing of it outlives the search.
class CResolver {
  public:
    // The classes the tables are looked up in, for a function whose own
    // table cannot be found through its address.
    explicit CResolver(CEntityClass* classListP);
    ~CResolver();
    CResolver(const CResolver&) = delete;
    CResolver& operator=(const CResolver&) = delete;

    // Starts the resolution of an entity whose uses have all been walked;
    // null when it can reach nothing. Give it back with release().
    CResolution* handle_polymorphism(CEntityInstance* function1P);
    void release(CResolution* resolutionP);

  private:
    friend class CResolution;

    // What resolution asks of an entity's mangled name, worked out once per
    // entity: every virtual function of a hierarchy walks the same tables.
    // Renderings are interned, so equal ones are one pointer; null where the
    // name has no such part.
    struct NameFacts {
        bool parsed;               // there is a "mangle" and it parses
        const char* classNameP;    // its class
        const char* functionNameP; // its function's name, which overriders share
    };

    // A function name and a type-information address: every virtual
    // function of that name in the table of every class one or more
    // derivations below the address is marked, or can never be (its
    // mangled name begins with "_ZT"). Marks are never cleared, so once true
    // this stays true, and a resolution of that name need not look below
    // the address again.
    struct NameBelow {
        const char* nameP;
        CEntityInstance* addrP;
        bool operator==(const NameBelow& o) const { return nameP == o.nameP && addrP == o.addrP; }
    };
    struct NameBelowHash {
        size_t operator()(const NameBelow& k) const {
            return CPointerHash()(k.addrP) ^ (CPointerHash()(k.nameP) * 31);
        }
    };

    CEntityClass* m_classListP;
    std::unique_ptr<Csignature> m_parserP;
    CFlatTable<CEntityInstance*, NameFacts, CPointerHash> m_names;
    bool m_tablesBuilt = false;
    CFlatTable<const char*, CEntityInstance*, CPointerHash> m_tablesByClass; // by interned name
    CFlatTable<NameBelow, bool, NameBelowHash> m_doneBelow;
    std::vector<std::unique_ptr<CResolution>> m_spare;

    NameFacts namesOf(CEntityInstance* eP);
    CEntityInstance* tableByClassName(const char* classnameP);
    bool doneBelow(const char* nameP, CEntityInstance* addrP) {
        return m_doneBelow.find({nameP, addrP}) != nullptr;
    }
    void setDoneBelow(const char* nameP, CEntityInstance* addrP) {
        if (!doneBelow(nameP, addrP))
            m_doneBelow.add({nameP, addrP}, true);
    }
};

#endif
