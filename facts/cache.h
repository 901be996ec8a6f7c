// The cache of unit facts: a directory of entries, each the fact records of
// one unit under a key made of everything that decides them. A second run
// over unchanged units then parses nothing.
#ifndef LOPWORT_FACTS_CACHE_H
#define LOPWORT_FACTS_CACHE_H

#include "unitfacts.h"

#include <string>
#include <vector>

// Builds a key from parts; equal parts in equal order give an equal key,
// and a part's bytes never run into the next one's.
class CCacheKey {
  public:
    CCacheKey& add(const std::string& part);
    // 32 hexadecimal digits: two independent 64-bit hashes of the parts.
    std::string hex() const;

  private:
    unsigned long long m_a = 0xcbf29ce484222325ull; // FNV-1a
    unsigned long long m_b = 0x9e3779b97f4a7c15ull; // a multiply-xorshift hash
    void bytes(const char* p, size_t n);
};

class CFactsCache {
  public:
    // dir empty: no cache. The directory is made when the first entry is
    // stored.
    explicit CFactsCache(std::string dir) : m_dir(std::move(dir)) {}
    bool enabled() const { return !m_dir.empty(); }

    // The records of the entry under key; false when there is none or it
    // is damaged (a damaged entry is removed).
    bool load(const std::string& key, std::string& recordsR) const;
    // Stores an entry whole (a temporary file, then a rename), so that a
    // crash never leaves half an entry under its name. Failures only cost
    // the next run a parse.
    void store(const std::string& key, const CRecordSource& records) const;
    void store(const std::string& key, const std::string& records) const {
        store(key, records_of_text(records));
    }

  private:
    std::string m_dir;
    std::string path(const std::string& key) const;
};

// The state of files and directories as a manifest records it: for each,
// its path, size, modification and change times and inode, one a line. A
// unit whose files and search directories are all in the state recorded
// when it was last preprocessed needs no preprocessing to find its key (a
// new header that would shadow an old one changes its directory). stableR
// is false when any of them changed at or after since, the moment the
// preprocessing began: their state may not be the one it read.
std::string file_states(const std::vector<std::string>& paths, long long since, bool& stableR);
// The paths of a manifest's states, in order.
std::vector<std::string> state_paths(const std::string& states);
// Now, in the nanoseconds that file_states compares.
long long clock_now();

// The cache directory when none is named: $XDG_CACHE_HOME/lopwort-facts,
// or ~/.cache/lopwort-facts; empty when neither can be found.
std::string default_cache_dir();

// What identifies this build of the extractor: its program file's size
// and modification time, so that any rebuild makes new keys.
std::string extractor_identity();

#endif
