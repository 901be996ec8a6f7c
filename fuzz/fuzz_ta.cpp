// The TA reader over arbitrary bytes: tokenizer, section reader and fact
// base together, each input loaded into a fresh fact base that is forgotten
// again afterwards. Fatal format errors are expected; crashes, leaks and
// undefined behaviour are not.
#include "TaInput.h"
#include "fuzz_support.h"

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dataP, size_t size) {
    int fd = fuzz_memfile(dataP, size);
    try {
        (new CTAInput())->loadTA(fuzz_fd_path(fd).c_str());
    } catch (const FuzzExit&) {
    }
    close(fd);
    fuzz_forget_facts();
    return 0;
}
