// What the fuzz targets share. Under the fuzzer a fatal error must not end
// the process, or the first malformed input would end the campaign: this
// build's error_exit and outofmemory throw FuzzExit instead, and every target
// catches it where it calls into the program. Inputs reach the code that
// reads files through anonymous in-memory files, so no disk is involved.
#ifndef LOPWORT_FUZZ_SUPPORT_H
#define LOPWORT_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

struct FuzzExit {
    int code;
};

// A descriptor of an in-memory file holding the bytes, positioned at 0.
int fuzz_memfile(const uint8_t* dataP, size_t size);
// A name that opens the file behind a descriptor, for code that wants names.
std::string fuzz_fd_path(int fd);
// A directory of this process for the files a target has to write, kept in
// memory (/dev/shm) when the machine has it.
const std::string& fuzz_scratch_dir();
// Forgets the fact base and every text and attribute interned for it, and
// gives the arena back, so that each input starts from an empty program.
void fuzz_forget_facts();

// A property of the code under test that does not hold: report and crash,
// so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                        \
    do {                                                                                        \
        if (!(cond))                                                                            \
            fuzz_check_failed(#cond, __FILE__, __LINE__);                                       \
    } while (0)
[[noreturn]] void fuzz_check_failed(const char* whatP, const char* fileP, int line);

#endif
