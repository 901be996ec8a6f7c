// Writes a synthetic TA fact file of about the requested size, shaped like
// an extractor's output: a schema, then per source file a file entity, its
// functions and variables with containment, calls and references, then the
// attribute records with labels, paths, lines, mangled names and the
// compile command. Used to measure loading speed.
//
// usage: bench_gen_ta OUTPUT MEGABYTES
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s OUTPUT MEGABYTES\n", argv[0]);
        return 1;
    }
    FILE* outP = fopen(argv[1], "wb");
    if (outP == nullptr) {
        perror(argv[1]);
        return 1;
    }
    static char buffer[1 << 20];
    setvbuf(outP, buffer, _IOFBF, sizeof buffer);
    const long long target = atoll(argv[2]) * 1024 * 1024;
    const int perFile = 40; // functions per source file

    fputs("SCHEME TUPLE :\n$INHERIT GF Function\n$INHERIT LF Function\n"
          "call Function Function\nreference Function GV\ncontain File Function\n"
          "contain File GV\n\nSCHEME ATTRIBUTE :\nGF { class_label = \"global function\" }\n"
          "(call) { class_label = call }\n\n",
          outP);
    // Tuples and attributes alternate in chunks, so both kinds of section
    // are read throughout the file, and the pending header is exercised.
    unsigned long seed = 12345;
    auto rnd = [&seed](unsigned long n) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        return (seed >> 33) % n;
    };
    long long written = 0;
    long file = 0;
    while (written < target) {
        long first = file * perFile;
        fputs("FACT TUPLE :\n", outP);
        fprintf(outP, "$INSTANCE file%ld File\n", file);
        for (long f = first; f < first + perFile; ++f) {
            fprintf(outP, "$INSTANCE fn%ld %s\ncontain file%ld fn%ld\n", f, f % 7 ? "GF" : "LF",
                    file, f);
            fprintf(outP, "$INSTANCE var%ld GV\ncontain file%ld var%ld\n", f, file, f);
            for (int c = 0; c < 4; ++c)
                fprintf(outP, "call fn%ld fn%lu\n", f, rnd(first + perFile));
            fprintf(outP, "reference fn%ld var%lu\n", f, rnd(first + perFile));
        }
        fputs("FACT ATTRIBUTE :\n", outP);
        fprintf(outP,
                "file%ld { label = \"file%ld.cpp\" args = (\"g++\" \"-c\" \"-O2\" \"-Iinclude\" "
                "\"-DNAME=\\\"x y\\\"\" \"src/dir%ld/file%ld.cpp\") }\n",
                file, file, file % 97, file);
        for (long f = first; f < first + perFile; ++f) {
            fprintf(outP,
                    "fn%ld { label = \"fn%ld\" file = \"src/dir%ld/file%ld.cpp\" lineno = %ld "
                    "mangle = \"_ZN2ns5Class%ld4fn%ldEPKci\" }\n",
                    f, f, file % 97, file, 10 + (f - first) * 25, file, f);
            fprintf(outP, "var%ld { label = var%ld lineno = %ld }\n", f, f, 1 + (f - first));
            fprintf(outP, "(call fn%ld fn%ld) { weight = 1 }\n", f, first);
        }
        written = ftell(outP);
        ++file;
    }
    if (fclose(outP) != 0) {
        perror(argv[1]);
        return 1;
    }
    printf("%s: %lld bytes, %ld source files, %ld functions\n", argv[1], written, file,
           file * perFile);
    return 0;
}
