// lopwort-signature: parses mangled names and prints, for each, whether it
// parsed and its four renderings and dictionary size, optionally with the
// parse tree. A tool for debugging and measuring the name parser.
//
//   lopwort-signature [-d] [NAME...]
//
// Names come from the arguments, or one per line from standard input when
// there are none. Exit status 0 when every name parsed, 1 when one did not,
// 2 for a usage error.
#include "signature.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kUsage[] = "usage: lopwort-signature [-d] [NAME...]\n";

void put_field(const char* textP) {
    putchar('\t');
    fputs(textP != nullptr ? textP : "-", stdout);
}

// Prints the line of one name; lth is the name's length, which differs from
// strlen when a line read from standard input holds a NUL byte: such a line
// is no name and fails.
bool report(Csignature& signature, const char* nameP, size_t lth, bool dump) {
    fwrite(nameP, 1, lth, stdout);
    bool ok = strlen(nameP) == lth && signature.signature(nameP) != nullptr;
    if (!ok) {
        fputs("\tfail\n", stdout);
        return false;
    }
    fputs("\tok", stdout);
    put_field(signature.get_classname());
    put_field(signature.get_template());
    put_field(signature.get_function());
    put_field(signature.get_function_name());
    printf("\t%d\n", signature.dictionary_count());
    if (dump)
        signature.dump(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    bool dump = false;
    int first = 1;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        if (strcmp(argv[first], "-d") == 0) {
            dump = true;
        } else if (strcmp(argv[first], "--") == 0) {
            ++first;
            break;
        } else {
            fprintf(stderr, "lopwort-signature: unknown option %s\n%s", argv[first], kUsage);
            return 2;
        }
    }

    Csignature signature;
    bool all_ok = true;
    if (first < argc) {
        for (int i = first; i < argc; ++i)
            all_ok &= report(signature, argv[i], strlen(argv[i]), dump);
    } else {
        char* lineP = nullptr;
        size_t capacity = 0;
        ssize_t lth;
        while ((lth = getline(&lineP, &capacity, stdin)) >= 0) {
            if (lth > 0 && lineP[lth - 1] == '\n')
                lineP[--lth] = '\0';
            all_ok &= report(signature, lineP, static_cast<size_t>(lth), dump);
        }
        free(lineP);
    }
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fputs("lopwort-signature: cannot write the output\n", stderr);
        return 2;
    }
    return all_ok ? 0 : 1;
}
