// The boundary scanner over arbitrary preprocessed text. The first byte
// chooses whether the annotated scan file is written too; the rest is the
// text, read through a descriptor as the scanner reads the pipe. What the
// guard writer relies on must hold of every record, whatever the text.
#include "boundaries.h"
#include "fuzz_support.h"
#include "lopwort.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dataP, size_t size) {
    static const std::string dir = fuzz_scratch_dir(), file = dir + "/f.c";
    if (size == 0)
        return 0;
    g_filenameP = file.c_str();
    g_debug_flag = dataP[0] & 1;
    scan(dir.c_str(), fuzz_memfile(dataP + 1, size - 1)); // closes the descriptor
    FUZZ_CHECK(g_boundaries >= 0 && g_boundaries <= g_boundaries_max);
    for (int i = 0; i < g_boundaries; ++i) {
        const boundaryT& r = g_boundariesP[i];
        FUZZ_CHECK(r.lineno[0] >= 1 && r.character[0] >= 1 && r.dead == 0);
        FUZZ_CHECK(r.lineno[1] == -1 || (r.lineno[1] >= 1 && r.character[1] >= 2));
    }
    return 0;
}
