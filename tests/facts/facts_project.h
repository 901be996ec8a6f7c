// A throw-away project for tests of lopwort-facts: sources written into a
// temporary directory, a compilation database for them, and the facts and
// lopwort's report made from it by running both programs as users do.
#ifndef LOPWORT_TESTS_FACTS_PROJECT_H
#define LOPWORT_TESTS_FACTS_PROJECT_H

#include "cli.h"

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

struct FactsProject {
    std::string dir = makeTempDir();
    std::vector<std::string> entries; // JSON objects of the database

    ~FactsProject() { std::system(("rm -rf '" + dir + "'").c_str()); }

    void file(const std::string& name, const std::string& text) {
        std::system(("mkdir -p \"$(dirname '" + dir + "/" + name + "')\"").c_str());
        writeFile(dir + "/" + name, text);
    }

    static std::string json(const std::string& s) {
        std::string out = "\"";
        for (char c : s) {
            if (c == '"' || c == '\\')
                out += '\\';
            out += c;
        }
        return out + "\"";
    }

    // A unit compiled in the project directory with the given words after
    // the compiler, as CMake records them.
    void unit(const std::string& source, const std::vector<std::string>& args,
              const std::string& compiler = "/usr/bin/g++") {
        std::string e = "{\"directory\": " + json(dir) + ", \"file\": " + json(source) +
                        ", \"arguments\": [" + json(compiler);
        for (const std::string& a : args)
            e += ", " + json(a);
        entries.push_back(e + "]}");
    }
    void unit(const std::string& source) { unit(source, {"-c", source, "-o", source + ".o"}); }

    std::string database() {
        std::string text = "[\n";
        for (size_t i = 0; i < entries.size(); ++i)
            text += entries[i] + (i + 1 < entries.size() ? ",\n" : "\n");
        writeFile(dir + "/compile_commands.json", text + "]\n");
        return dir + "/compile_commands.json";
    }

    RunResult extract(std::vector<std::string> options = {}) {
        options.push_back("-o");
        options.push_back(dir + "/facts.ta");
        options.push_back(database());
        return runProgram(LOPWORT_FACTS_BIN, options);
    }

    std::string facts() { return readFile(dir + "/facts.ta"); }

    // The labels of the functions lopwort reports dead, with their lines.
    std::set<std::string> dead(std::vector<std::string> options = {}) {
        options.push_back(dir + "/facts.ta");
        RunResult r = runLopwort(options);
        std::set<std::string> out;
        std::istringstream in(r.out);
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] != '\t')
                continue;
            size_t close = line.find(") ");
            std::string item = line.substr(close + 2);
            for (const char* status : {" dead code", " update template", " update", " read",
                                       " unknown lineno", " dead template function"}) {
                std::string suffix = status;
                if (item.size() > suffix.size() &&
                    item.compare(item.size() - suffix.size(), suffix.size(), suffix) == 0) {
                    item.erase(item.size() - suffix.size());
                    break;
                }
            }
            if (!item.empty() && item[0] == '"')
                item.erase(0, 1);
            size_t quote = item.find('"');
            if (quote != std::string::npos)
                item.erase(quote, 1);
            out.insert(item);
        }
        return out;
    }

    int shell(const std::string& command) {
        return std::system(("cd '" + dir + "' && " + command + " >/dev/null 2>&1").c_str());
    }
};

#endif
