// Reading the compilation database that CMake (CMAKE_EXPORT_COMPILE_COMMANDS)
// and bear write. Both write an array of objects with "directory", "file"
// and either "arguments" or "command"; "output" is ignored.
#include "compdb.h"

#include <llvm/Support/Allocator.h>
#include <llvm/Support/CommandLine.h>
#include <llvm/Support/StringSaver.h>
#include <llvm/Support/JSON.h>
#include <llvm/Support/MemoryBuffer.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

bool split_command(const std::string& command, std::vector<std::string>& wordsR) {
    wordsR.clear();
    std::string word;
    bool inWord = false;
    size_t i = 0, n = command.size();
    while (i < n) {
        char c = command[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (inWord)
                wordsR.push_back(word);
            word.clear();
            inWord = false;
            ++i;
        } else if (c == '\'') {
            inWord = true;
            size_t end = command.find('\'', i + 1);
            if (end == std::string::npos)
                return false;
            word.append(command, i + 1, end - i - 1);
            i = end + 1;
        } else if (c == '"') {
            inWord = true;
            ++i;
            for (;;) {
                if (i >= n)
                    return false;
                char d = command[i];
                if (d == '"') {
                    ++i;
                    break;
                }
                if (d == '\\' && i + 1 < n &&
                    (command[i + 1] == '"' || command[i + 1] == '\\' || command[i + 1] == '$' ||
                     command[i + 1] == '`')) {
                    word += command[i + 1];
                    i += 2;
                } else {
                    word += d;
                    ++i;
                }
            }
        } else if (c == '\\') {
            inWord = true;
            if (i + 1 < n)
                word += command[i + 1];
            i += 2;
        } else {
            inWord = true;
            word += c;
            ++i;
        }
    }
    if (inWord)
        wordsR.push_back(word);
    return true;
}

void strip_compiler_wrappers(std::vector<std::string>& argsR) {
    static const char* const wrappers[] = {"ccache", "sccache", "distcc", "icecc", "buildcache"};
    size_t skip = 0;
    while (skip < argsR.size()) {
        const std::string& word = argsR[skip];
        size_t slash = word.rfind('/');
        std::string name = slash == std::string::npos ? word : word.substr(slash + 1);
        bool wrapper = false;
        for (const char* w : wrappers)
            wrapper = wrapper || name == w;
        if (!wrapper)
            break;
        ++skip;
    }
    if (skip == 0)
        return;
    argsR.erase(argsR.begin(), argsR.begin() + static_cast<long>(skip));
    // "distcc -c x.c": the wrapper runs the default compiler.
    auto is_source = [](const std::string& w) {
        size_t dot = w.rfind('.');
        if (dot == std::string::npos)
            return false;
        std::string ext = w.substr(dot + 1);
        for (const char* e : {"c", "cc", "cp", "cpp", "cxx", "c++", "C", "CPP", "i", "ii", "m", "mm"})
            if (ext == e)
                return true;
        return false;
    };
    if (argsR.empty() || argsR[0].empty() || argsR[0][0] == '-' || is_source(argsR[0]))
        argsR.insert(argsR.begin(), "cc");
}

static void expand_into(const std::vector<std::string>& args, const std::string& directory,
                        int depth, std::vector<std::string>& outR) {
    for (const std::string& a : args) {
        if (a.size() < 2 || a[0] != '@' || depth > 16) {
            outR.push_back(a);
            continue;
        }
        std::string path = a.substr(1);
        if (path[0] != '/')
            path = directory + "/" + path;
        auto bufferOr = llvm::MemoryBuffer::getFile(path);
        if (!bufferOr) {
            outR.push_back(a);
            continue;
        }
        llvm::BumpPtrAllocator arena;
        llvm::StringSaver saver(arena);
        llvm::SmallVector<const char*, 64> words;
        llvm::cl::TokenizeGNUCommandLine((*bufferOr)->getBuffer(), saver, words);
        std::vector<std::string> inner;
        for (const char* w : words)
            if (w)
                inner.push_back(w);
        expand_into(inner, directory, depth + 1, outR);
    }
}

std::vector<std::string> expand_response_files(const std::vector<std::string>& args,
                                               const std::string& directory) {
    std::vector<std::string> out;
    expand_into(args, directory, 0, out);
    return out;
}

static bool is_executable_file(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string absolute_compiler(const std::string& compiler, const std::string& directory) {
    if (compiler.empty())
        return compiler;
    if (compiler[0] == '/')
        return compiler;
    if (compiler.find('/') != std::string::npos)
        return directory + "/" + compiler;
    const char* pathP = getenv("PATH");
    std::string path = pathP ? pathP : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t colon = path.find(':', start);
        std::string dir = path.substr(start, colon == std::string::npos ? colon : colon - start);
        if (!dir.empty() && dir[0] == '/' && is_executable_file(dir + "/" + compiler))
            return dir + "/" + compiler;
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return compiler;
}

bool read_compilation_database(const std::string& path, std::vector<CCompileCommand>& commandsR,
                               std::string& errorR, std::vector<std::string>& warningsR) {
    auto bufferOr = llvm::MemoryBuffer::getFile(path);
    if (!bufferOr) {
        errorR = "cannot read " + path + ": " + bufferOr.getError().message();
        return false;
    }
    llvm::Expected<llvm::json::Value> parsed = llvm::json::parse((*bufferOr)->getBuffer());
    if (!parsed) {
        errorR = path + " is not JSON: " + llvm::toString(parsed.takeError());
        return false;
    }
    const llvm::json::Array* entriesP = parsed->getAsArray();
    if (!entriesP) {
        errorR = path + " is not a compilation database (expected an array of entries)";
        return false;
    }
    int index = 0;
    for (const llvm::json::Value& entry : *entriesP) {
        ++index;
        std::string where = path + ": entry " + std::to_string(index);
        const llvm::json::Object* objP = entry.getAsObject();
        if (!objP) {
            warningsR.push_back(where + " is not an object; skipped");
            continue;
        }
        CCompileCommand cmd;
        llvm::Optional<llvm::StringRef> dir = objP->getString("directory");
        llvm::Optional<llvm::StringRef> file = objP->getString("file");
        if (!dir || !file || dir->empty() || file->empty()) {
            warningsR.push_back(where + " lacks \"directory\" or \"file\"; skipped");
            continue;
        }
        cmd.m_directory = dir->str();
        cmd.m_file = file->str();
        if (const llvm::json::Array* argsP = objP->getArray("arguments")) {
            bool ok = true;
            for (const llvm::json::Value& a : *argsP) {
                llvm::Optional<llvm::StringRef> s = a.getAsString();
                if (!s) {
                    ok = false;
                    break;
                }
                cmd.m_arguments.push_back(s->str());
            }
            if (!ok) {
                warningsR.push_back(where + " has an argument that is not a string; skipped");
                continue;
            }
        } else if (llvm::Optional<llvm::StringRef> command = objP->getString("command")) {
            if (!split_command(command->str(), cmd.m_arguments)) {
                warningsR.push_back(where + " has an unterminated quote in \"command\"; skipped");
                continue;
            }
        } else {
            warningsR.push_back(where + " has neither \"arguments\" nor \"command\"; skipped");
            continue;
        }
        strip_compiler_wrappers(cmd.m_arguments);
        if (cmd.m_arguments.empty()) {
            warningsR.push_back(where + " has an empty command; skipped");
            continue;
        }
        if (cmd.m_directory[0] != '/') {
            warningsR.push_back(where + " has a relative \"directory\"; skipped");
            continue;
        }
        cmd.m_path = cmd.m_file[0] == '/' ? cmd.m_file : cmd.m_directory + "/" + cmd.m_file;
        cmd.m_compiler = absolute_compiler(cmd.m_arguments[0], cmd.m_directory);
        cmd.m_arguments = expand_response_files(cmd.m_arguments, cmd.m_directory);
        if (cmd.m_compiler[0] != '/')
            warningsR.push_back(where + ": compiler " + cmd.m_arguments[0] +
                                " not found in PATH; recorded as it is");
        commandsR.push_back(std::move(cmd));
    }
    return true;
}
