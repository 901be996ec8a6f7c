// The fuzz build's fatal exits, and the helpers of fuzz_support.h. This file
// takes the place of util.cpp in the library the targets link.
#include "fuzz_support.h"

#include "AttributeCache.h"
#include "EntityCache.h"
#include "stringcache.h"
#include "util.h"
#include "xmalloc.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sys/mman.h>
#include <unistd.h>

void outofmemory() {
    fputs("Out of memory\n", stderr);
    error_exit(4);
}

void error_exit(int code) {
    fprintf(stderr, "Exit code %d\n", code);
    throw FuzzExit{code};
}

int fuzz_memfile(const uint8_t* dataP, size_t size) {
    int fd = memfd_create("lopwort-fuzz", 0);
    if (fd < 0) {
        perror("memfd_create");
        abort();
    }
    for (size_t done = 0; done < size;) {
        ssize_t n = write(fd, dataP + done, size - done);
        if (n <= 0) {
            perror("write");
            abort();
        }
        done += static_cast<size_t>(n);
    }
    lseek(fd, 0, SEEK_SET);
    return fd;
}

std::string fuzz_fd_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

namespace {

std::string s_scratch;

void remove_scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(s_scratch, ignored);
}

} // namespace

const std::string& fuzz_scratch_dir() {
    if (s_scratch.empty()) {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = base + "/lopwort-fuzz-XXXXXX";
        if (mkdtemp(&tmpl[0]) == nullptr) {
            perror("mkdtemp");
            abort();
        }
        s_scratch = tmpl;
        atexit(remove_scratch);
    }
    return s_scratch;
}

void fuzz_forget_facts() {
    CEntityCache::reset();
    stringCacheReset();
    attributeCacheReset();
    arena_release_all();
}

void fuzz_check_failed(const char* whatP, const char* fileP, int line) {
    fprintf(stderr, "%s:%d: check failed: %s\n", fileP, line, whatP);
    abort();
}
