// Writing and reading fragments. The records are read with stdio one line at
// a time; the text, often the largest part, is never read here: the merge's
// scanner reads it straight from the file.
#include "fragment.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

const int kFragmentFormat = 2;

static const char kMagic[] = "lopwort-facts fragment ";

CWholeFile::CWholeFile(const std::string& path) : m_path(path) {
    std::string tmpl = path + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    m_fd = mkstemp(name.data());
    if (m_fd < 0) {
        m_err = errno;
        return;
    }
    m_tmp = name.data();
    // Readable as a file the user made would be.
    mode_t mask = umask(0);
    umask(mask);
    if (fchmod(m_fd, 0666 & ~mask) != 0)
        m_err = errno;
}

CWholeFile::~CWholeFile() {
    if (m_fd >= 0)
        close(m_fd);
    if (!m_tmp.empty())
        unlink(m_tmp.c_str());
}

bool CWholeFile::write(const std::string& text) {
    size_t done = 0;
    while (m_err == 0 && done < text.size()) {
        ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            m_err = n < 0 ? errno : EIO;
        else
            done += static_cast<size_t>(n);
    }
    return m_err == 0;
}

int CWholeFile::commit() {
    if (m_fd >= 0 && close(m_fd) != 0 && m_err == 0)
        m_err = errno;
    m_fd = -1;
    if (m_err == 0 && rename(m_tmp.c_str(), m_path.c_str()) != 0)
        m_err = errno;
    if (m_err == 0)
        m_tmp.clear(); // in place: nothing to remove
    return m_err;
}

int write_whole(const std::string& path, const std::string& text) {
    CWholeFile file(path);
    file.write(text);
    return file.commit();
}

bool read_whole(const std::string& path, std::string& textR) {
    // Read straight into one string: a file may be large.
    FILE* inP = fopen(path.c_str(), "rb");
    if (inP == nullptr)
        return false;
    textR.clear();
    struct stat st;
    bool ok = fstat(fileno(inP), &st) == 0;
    if (ok && st.st_size > 0) {
        textR.resize(static_cast<size_t>(st.st_size));
        textR.resize(fread(&textR[0], 1, textR.size(), inP));
        ok = !ferror(inP);
    }
    fclose(inP);
    return ok;
}

std::string make_work_dir() {
    const char* baseP = getenv("TMPDIR");
    std::string tmpl = std::string(baseP && *baseP ? baseP : "/tmp") + "/lopwort-facts-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        return std::string();
    return buf.data();
}

bool write_fragment(const std::string& path, size_t index, const CMergedUnit& unit,
                    const CRecordSource& records, const std::string& text,
                    const std::string& textKey, std::string& errorR) {
    std::string head = kMagic + std::to_string(kFragmentFormat) + "\nU" +
                       record_field(std::to_string(index)) + record_field(unit.m_id) +
                       record_field(unit.m_label);
    for (const std::string& a : unit.m_args)
        head += record_field(a);
    head += '\n';
    if (!textKey.empty())
        head += "K" + record_field(textKey) + "\n";
    // Written piece by piece: the records and the text of a large unit run
    // to a hundred megabytes, and a copy of both would raise the worker's
    // peak by as much.
    CWholeFile out(path);
    out.write(head);
    records([&out](const std::string& piece) { out.write(piece); });
    out.write("T" + record_field(std::to_string(text.size())) + "\n");
    out.write(text);
    int err = out.commit();
    if (err != 0) {
        errorR = "cannot write " + path + ": " + strerror(err);
        return false;
    }
    return true;
}

bool read_fragment(const std::string& path, CFragment& fragmentR, std::string& errorR,
                   bool headOnly) {
    FILE* inP = fopen(path.c_str(), "rb");
    if (inP == nullptr) {
        errorR = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    fragmentR.m_path = path;
    char* lineP = nullptr;
    size_t room = 0;
    ssize_t n;
    int lineno = 0;
    bool ok = false, ended = false;
    CRecordReader records(fragmentR.m_facts);
    while ((n = getline(&lineP, &room, inP)) > 0) {
        ++lineno;
        std::string line(lineP, static_cast<size_t>(n));
        if (line.back() != '\n')
            break; // cut short in the middle of a record
        line.pop_back();
        if (lineno == 1) {
            if (line.compare(0, sizeof kMagic - 1, kMagic) != 0) {
                errorR = path + " is not a lopwort-facts fragment";
                break;
            }
            std::string version = line.substr(sizeof kMagic - 1);
            if (version != std::to_string(kFragmentFormat)) {
                errorR = path + " is a fragment of format " + version +
                         ", and this lopwort-facts reads format " +
                         std::to_string(kFragmentFormat) + ": extract it again";
                break;
            }
            continue;
        }
        std::vector<std::string> f = record_fields(line);
        if (f[0] == "U" && f.size() >= 4) {
            fragmentR.m_index = strtoul(f[1].c_str(), nullptr, 10);
            fragmentR.m_unit.m_id = f[2];
            fragmentR.m_unit.m_label = f[3];
            fragmentR.m_unit.m_args.assign(f.begin() + 4, f.end());
            if (headOnly) {
                ok = !fragmentR.m_unit.m_id.empty();
                break;
            }
            continue;
        }
        if (f[0] == "K" && f.size() == 2) {
            fragmentR.m_textKey = f[1];
            continue;
        }
        if (f[0] == "T" && f.size() == 2) {
            fragmentR.m_textSize = atol(f[1].c_str());
            fragmentR.m_textOffset = ftell(inP);
            struct stat st;
            ended = fstat(fileno(inP), &st) == 0 && fragmentR.m_textSize >= 0 &&
                    st.st_size == fragmentR.m_textOffset + fragmentR.m_textSize;
            ok = ended && !fragmentR.m_unit.m_id.empty();
            if (ended && !ok)
                errorR = path + " names no unit";
            break;
        }
        if (!records.read(f)) {
            errorR = path + ":" + std::to_string(lineno) + ": malformed record";
            break;
        }
    }
    free(lineP);
    fclose(inP);
    if (!ok && errorR.empty())
        errorR = lineno == 0 ? path + " is empty" : path + " is cut short";
    return ok;
}

int open_fragment_text(const std::string& path, long offset, long size) {
    if (size <= 0)
        return -1;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd >= 0 && lseek(fd, offset, SEEK_SET) != offset) {
        close(fd);
        return -1;
    }
    return fd;
}
