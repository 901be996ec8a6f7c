// The mangled-name parser and its four renderings. The long-lived object is
// reused from input to input as the analysis reuses its own; a fresh object
// must reach exactly the same result, or state leaks from parse to parse.
#include "fuzz_support.h"
#include "signature.h"

#include <cstdio>
#include <cstring>

namespace {

struct Result {
    bool parsed;
    std::string renderings[4];
};

Result parse(Csignature& s, const char* nameP) {
    Result r{s.signature(nameP) != nullptr, {}};
    const char* texts[4] = {s.get_classname(), s.get_template(), s.get_function(),
                            s.get_function_name()};
    for (int i = 0; i < 4; ++i)
        r.renderings[i] = texts[i] ? texts[i] : "(none)";
    FUZZ_CHECK(s.same_class(&s) == (texts[0] != nullptr));
    FUZZ_CHECK(s.same_function_name(&s) == (texts[3] != nullptr));
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dataP, size_t size) {
    static Csignature reused;
    static FILE* nullF = fopen("/dev/null", "w");
    std::string name(reinterpret_cast<const char*>(dataP), size);
    Result first = parse(reused, name.c_str());
    if (first.parsed)
        reused.dump(nullF);
    Csignature fresh;
    Result second = parse(fresh, name.c_str());
    FUZZ_CHECK(first.parsed == second.parsed);
    for (int i = 0; i < 4; ++i)
        FUZZ_CHECK(first.renderings[i] == second.renderings[i]);
    return 0;
}
