// Cache entries are plain files named by their key, two levels deep so that
// no directory grows to hundreds of thousands of names. An entry is a first
// line naming the format, the records, and a last record with the records'
// size: an entry cut short or from another format is never used.
#include "cache.h"

#include "fragment.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

static const char kEntryHeader[] = "lopwort-facts cache 2\n";

void CCacheKey::bytes(const char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        m_a = (m_a ^ c) * 0x100000001b3ull;
        m_b = (m_b + c + 1) * 0xff51afd7ed558ccdull;
        m_b ^= m_b >> 29;
    }
}

CCacheKey& CCacheKey::add(const std::string& part) {
    std::string size = std::to_string(part.size()) + ":";
    bytes(size.data(), size.size());
    bytes(part.data(), part.size());
    return *this;
}

std::string CCacheKey::hex() const {
    char buf[40];
    snprintf(buf, sizeof buf, "%016llx%016llx", m_a, m_b);
    return buf;
}

std::string CFactsCache::path(const std::string& key) const {
    return m_dir + "/" + key.substr(0, 2) + "/" + key.substr(2);
}

bool CFactsCache::load(const std::string& key, std::string& recordsR) const {
    if (!enabled())
        return false;
    std::string entry;
    if (!read_whole(path(key), entry))
        return false;
    size_t headerSize = sizeof kEntryHeader - 1;
    size_t lastLine = entry.size() >= 2 ? entry.rfind('\n', entry.size() - 2) : std::string::npos;
    bool good = entry.compare(0, headerSize, kEntryHeader) == 0 && lastLine != std::string::npos &&
                lastLine + 1 >= headerSize && entry.back() == '\n' &&
                entry.compare(lastLine + 1, 2, "Z\t") == 0 &&
                entry.substr(lastLine + 3, entry.size() - lastLine - 4) ==
                    std::to_string(lastLine + 1 - headerSize);
    if (!good) {
        unlink(path(key).c_str());
        return false;
    }
    entry.resize(lastLine + 1);
    entry.erase(0, headerSize);
    recordsR = std::move(entry);
    return true;
}

void CFactsCache::store(const std::string& key, const CRecordSource& records) const {
    if (!enabled())
        return;
    std::string file = path(key);
    std::string dir = file.substr(0, file.rfind('/'));
    // Each level may be missing; another worker may make it meanwhile.
    for (size_t at = 1; at != std::string::npos; at = dir.find('/', at + 1))
        mkdir(dir.substr(0, at).c_str(), 0777);
    mkdir(dir.c_str(), 0777);
    CWholeFile out(file);
    out.write(kEntryHeader);
    size_t size = 0;
    records([&](const std::string& piece) {
        out.write(piece);
        size += piece.size();
    });
    out.write("Z\t" + std::to_string(size) + "\n");
    out.commit();
}

static long long nanoseconds(const struct timespec& t) {
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

long long clock_now() {
    struct timespec t;
    clock_gettime(CLOCK_REALTIME, &t);
    return nanoseconds(t);
}

std::string file_states(const std::vector<std::string>& paths, long long since, bool& stableR) {
    std::string out;
    stableR = true;
    for (const std::string& path : paths) {
        struct stat st;
        out += path;
        if (stat(path.c_str(), &st) != 0) {
            out += "\t-\n";
            continue;
        }
        long long modified = nanoseconds(st.st_mtim), changed = nanoseconds(st.st_ctim);
        if (modified >= since || changed >= since)
            stableR = false;
        out += "\t" + std::to_string(st.st_size) + "\t" + std::to_string(modified) + "\t" +
               std::to_string(changed) + "\t" + std::to_string(st.st_ino) + "\n";
    }
    return out;
}

std::vector<std::string> state_paths(const std::string& states) {
    std::vector<std::string> paths;
    for (size_t at = 0; at < states.size();) {
        size_t tab = states.find('\t', at), eol = states.find('\n', at);
        if (tab == std::string::npos || eol == std::string::npos || tab > eol)
            break;
        paths.push_back(states.substr(at, tab - at));
        at = eol + 1;
    }
    return paths;
}

std::string default_cache_dir() {
    const char* xdgP = getenv("XDG_CACHE_HOME");
    if (xdgP != nullptr && xdgP[0] == '/')
        return std::string(xdgP) + "/lopwort-facts";
    const char* homeP = getenv("HOME");
    if (homeP != nullptr && homeP[0] == '/')
        return std::string(homeP) + "/.cache/lopwort-facts";
    return std::string();
}

std::string extractor_identity() {
    struct stat st;
    if (stat("/proc/self/exe", &st) != 0)
        return "unknown " + std::to_string(getpid()); // never matches another run
    return std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_ino);
}
