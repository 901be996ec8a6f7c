// Benchmark of the mangled-name parser on real names: it takes every mangled
// symbol that nm lists for the C++ libraries installed on this machine,
// parses each and computes all four renderings, and prints names per second,
// the fraction that parse, and the failing names grouped by their leading
// characters and by the characters where the parse stopped.
//
//   bench_signature [LIBRARY...]
//
// Without arguments it uses the libraries of a built-in list that exist.
#include "signature.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const char* const kLibraries[] = {
    "/usr/lib/x86_64-linux-gnu/libstdc++.so.6",
    "/usr/lib/x86_64-linux-gnu/libLLVM-15.so.1",
    "/usr/lib/x86_64-linux-gnu/libLLVM-14.so.1",
    "/usr/lib/x86_64-linux-gnu/libclang-cpp.so.14",
    "/usr/lib/x86_64-linux-gnu/libboost_filesystem.so.1.74.0",
    "/usr/lib/x86_64-linux-gnu/libboost_regex.so.1.74.0",
    "/usr/lib/x86_64-linux-gnu/libboost_program_options.so.1.74.0",
    "/usr/lib/x86_64-linux-gnu/libboost_iostreams.so.1.74.0",
    "/usr/lib/x86_64-linux-gnu/libicuuc.so.72",
    "/usr/lib/x86_64-linux-gnu/libicui18n.so.72",
    "/usr/lib/x86_64-linux-gnu/libgtest.a",
    "/usr/lib/x86_64-linux-gnu/libgmock.a",
    "/usr/lib/x86_64-linux-gnu/libbenchmark.so.1.7.1",
};

bool exists(const char* pathP) {
    struct stat st;
    return stat(pathP, &st) == 0;
}

// The symbol names of one library (the dynamic table of a shared object, the
// symbol tables of an archive) that start with "_Z", without the version
// suffix that nm appends ("@@GLIBCXX_3.4").
void read_names(const std::string& library, std::vector<std::string>& names) {
    bool shared = library.find(".so") != std::string::npos;
    std::string command = std::string("nm ") + (shared ? "-D " : "") + "--format=posix '" +
                          library + "' 2>/dev/null";
    FILE* F = popen(command.c_str(), "r");
    if (F == nullptr)
        return;
    char* lineP = nullptr;
    size_t capacity = 0;
    ssize_t lth;
    while ((lth = getline(&lineP, &capacity, F)) > 0) {
        if (strncmp(lineP, "_Z", 2) != 0)
            continue;
        size_t end = strcspn(lineP, " @\n");
        names.emplace_back(lineP, end);
    }
    free(lineP);
    pclose(F);
}

void print_top(const char* titleP, const std::map<std::string, long>& counts, long total) {
    std::vector<std::pair<long, std::string>> sorted;
    for (const auto& entry : counts)
        sorted.emplace_back(entry.second, entry.first);
    std::sort(sorted.rbegin(), sorted.rend());
    printf("%s\n", titleP);
    for (size_t i = 0; i < sorted.size() && i < 15; ++i)
        printf("  %8ld  %5.1f%%  %s\n", sorted[i].first, 100.0 * sorted[i].first / total,
               sorted[i].second.c_str());
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> libraries;
    for (int i = 1; i < argc; ++i)
        libraries.push_back(argv[i]);
    if (libraries.empty())
        for (const char* pathP : kLibraries)
            if (exists(pathP))
                libraries.push_back(pathP);

    std::vector<std::string> names;
    for (const std::string& library : libraries) {
        size_t before = names.size();
        read_names(library, names);
        printf("%8zu names from %s\n", names.size() - before, library.c_str());
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    if (names.empty()) {
        fprintf(stderr, "bench_signature: no mangled names found (is nm installed?)\n");
        return 1;
    }
    printf("%8zu distinct names\n", names.size());

    // Timed: parse and all four renderings, several rounds over the list.
    Csignature signature;
    const int rounds = 3;
    long parsed = 0;
    size_t bytes = 0;
    auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds; ++round) {
        for (const std::string& name : names) {
            if (signature.signature(name.c_str()) == nullptr)
                continue;
            ++parsed;
            const char* renderings[] = {signature.get_classname(), signature.get_template(),
                                        signature.get_function(), signature.get_function_name()};
            for (const char* renderingP : renderings)
                if (renderingP != nullptr)
                    bytes += strlen(renderingP);
        }
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long total = static_cast<long>(names.size()) * rounds;
    printf("%.0f names per second (parse and four renderings; %d rounds in %.2f s; %zu "
           "rendered bytes)\n",
           total / seconds, rounds, seconds, bytes);
    printf("%ld of %zu parse: %.2f%%\n", parsed / rounds, names.size(),
           100.0 * parsed / total);

    // Untimed: what the failing names look like.
    std::map<std::string, long> by_lead;
    std::map<std::string, long> by_stop;
    long failed = 0;
    long absent_function = 0;
    for (const std::string& name : names) {
        if (signature.signature(name.c_str()) == nullptr) {
            ++failed;
            by_lead[name.substr(0, 4)]++;
            const char* stopP = signature.failure_position();
            by_stop[std::string(stopP, strnlen(stopP, 3))]++;
            continue;
        }
        if (signature.get_function() == nullptr && name.compare(0, 3, "_ZT") != 0 &&
            name.compare(0, 3, "_ZG") != 0)
            ++absent_function;
    }
    printf("%ld parsed names other than special names have no function rendering\n",
           absent_function);
    if (failed > 0) {
        print_top("failing names by their first four characters:", by_lead, failed);
        print_top("failing names by the three characters where the parse stopped:", by_stop,
                  failed);
    }
    return 0;
}
