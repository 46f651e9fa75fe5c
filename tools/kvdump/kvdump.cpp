// kvdump: prints the chunk tree of files in the engine's chunked binary
// format, such as a saved dome.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "chunk_walk.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitMalformed = 1;
constexpr int kExitUsage = 2;
// Files are read whole into memory; larger ones (or endless ones, such as a
// device that never ends) are refused at this size.
constexpr std::size_t kDefaultMaxMiB = 256;

void Usage(std::ostream& out) {
    out << "Usage: kvdump [OPTION]... FILE...\n"
           "Prints the chunk tree of each FILE (\"-\" reads standard input): every\n"
           "chunk's offset, type and name, body length and version, nested as the\n"
           "known container chunks nest, with strings as text and short summaries of\n"
           "frame lists, geometries, materials, atomics and mesh extensions.\n"
           "\n"
           "Options:\n"
           "  -b, --brief           one line per chunk, without per-frame or per-mesh\n"
           "                        lines\n"
           "  -a, --all             show every detail line (by default 16 per chunk)\n"
           "  --max-depth N         report nesting deeper than N levels (default 32)\n"
           "  --max-size MIB        refuse files larger than MIB mebibytes (default\n"
           "                        256)\n"
           "  --version             show the version and exit\n"
           "  -h, --help            show this text and exit\n"
           "\n"
           "A value follows its option as the next word or after \"=\" (--max-size=64);\n"
           "\"--\" ends the options.\n"
           "\n"
           "Besides the layout, each file is checked for what the engine refuses:\n"
           "atomics naming frames or geometries their clump lacks, mesh indices beyond\n"
           "their geometry's vertices, material slots beyond the list, clumps without\n"
           "their parts, loose or unknown chunks at the top of the file.\n"
           "\n"
           "Exit status: 0 every file is well formed; 1 a file is malformed (each\n"
           "problem is reported on standard error with its offset); 2 bad usage, a\n"
           "file that cannot be read or is too large, or output that cannot be\n"
           "written.\n";
}

// A whole number from min to max, or -1.
long WholeNumber(const char* text, long min, long max) {
    if (text == nullptr || *text == '\0') return -1;
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    return *end != '\0' || errno != 0 || n < min || n > max ? -1 : n;
}

// Reads the whole file (standard input for "-"). False with *why set when it
// cannot be read or is larger than limit bytes.
bool ReadAll(const std::string& name, std::size_t limit, std::vector<uint8_t>* data, std::string* why) {
    const bool standardInput = name == "-";
    const int fd = standardInput ? STDIN_FILENO : open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    constexpr std::size_t kPiece = 1 << 20;
    bool ok = true;
    data->clear();
    // A regular file says its size: one block of it, no copies on the way.
    struct stat info;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        data->reserve(std::min(static_cast<std::size_t>(info.st_size), limit) + 1);
    }
    for (;;) {
        const std::size_t have = data->size();
        // One byte past the limit tells a file of exactly the limit from a larger one.
        const std::size_t want = std::min(kPiece, limit + 1 - have);
        // Grown by doubling, but never past what the limit can need.
        if (have + want > data->capacity())
            data->reserve(std::min(std::max(2 * data->capacity(), have + want), limit + 1));
        data->resize(have + want);
        const ssize_t n = read(fd, data->data() + have, want);
        if (n < 0 && errno == EINTR) {
            data->resize(have);
            continue;
        }
        if (n < 0) {
            *why = std::strerror(errno);
            ok = false;
            data->resize(have);
            break;
        }
        data->resize(have + static_cast<std::size_t>(n));
        if (n == 0) break;
        if (data->size() > limit) {
            *why = "larger than " + std::to_string(limit >> 20) + " MiB (see --max-size); not dumped";
            ok = false;
            break;
        }
    }
    if (!standardInput) close(fd);
    if (!ok) {
        data->clear();
        data->shrink_to_fit();
    }
    return ok;
}

// Standard output takes everything written so far; false (with the reason
// reported) when it does not.
bool OutputWritten() {
    errno = 0;
    std::cout.flush();
    if (std::cout.good() && std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return true;
    const int error = errno;
    std::cerr << "kvdump: cannot write the output: " << (error != 0 ? std::strerror(error) : "write error") << "\n";
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    kv::dump::PrintOptions print;
    kv::dump::WalkOptions walk;
    std::vector<std::string> files;
    std::size_t maxBytes = kDefaultMaxMiB << 20;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsDone || a == "-" || a.empty() || a[0] != '-') {
            files.push_back(a);
            continue;
        }
        // --name=value, the GNU form, is the same as --name value.
        const std::size_t equals = a.rfind("--", 0) == 0 ? a.find('=') : std::string::npos;
        const std::string name = a.substr(0, equals);
        const bool attached = equals != std::string::npos;
        const bool takesValue = name == "--max-size" || name == "--max-depth";
        const bool flag = name == "--help" || name == "--version" || name == "--brief" || name == "--all";
        if (attached && flag) {
            std::cerr << "kvdump: " << name << " takes no value\n";
            return kExitUsage;
        }
        const char* value = attached ? argv[i] + equals + 1 : takesValue && i + 1 < argc ? argv[i + 1] : nullptr;
        if (takesValue && !attached) ++i;
        if (a == "--") {
            optionsDone = true;
        } else if (a == "-h" || a == "--help") {
            Usage(std::cout);
            return kExitOk;
        } else if (a == "--version") {
            std::cout << "kvdump " << KV_VERSION << "\n";
            return kExitOk;
        } else if (a == "-b" || a == "--brief") {
            print.details = false;
        } else if (a == "-a" || a == "--all") {
            print.maxDetails = static_cast<std::size_t>(-1);
        } else if (name == "--max-size") {
            const long n = WholeNumber(value, 1, 4096);
            if (n < 0) {
                std::cerr << "kvdump: --max-size needs a number of mebibytes from 1 to 4096\n";
                return kExitUsage;
            }
            maxBytes = static_cast<std::size_t>(n) << 20;
        } else if (name == "--max-depth") {
            const long n = WholeNumber(value, 1, 1000);
            if (n < 0) {
                std::cerr << "kvdump: --max-depth needs a number from 1 to 1000\n";
                return kExitUsage;
            }
            walk.maxDepth = static_cast<int>(n);
        } else {
            std::cerr << "kvdump: unknown option " << name << " (see --help)\n";
            return kExitUsage;
        }
    }
    if (files.empty()) {
        Usage(std::cerr);
        return kExitUsage;
    }

    // Output to a file past the size limit fails (and is reported) rather
    // than killing the dump.
    std::signal(SIGXFSZ, SIG_IGN);
    int status = kExitOk;
    bool first = true;
    for (const std::string& name : files) {
        std::vector<uint8_t> data;
        std::string why;
        if (!ReadAll(name, maxBytes, &data, &why)) {
            std::cerr << "kvdump: cannot read " << name << ": " << why << "\n";
            status = kExitUsage;
            continue;
        }
        const kv::dump::ChunkTree tree = kv::dump::ChunkWalk(data, walk);
        if (files.size() > 1 && !first) std::cout << "\n";
        first = false;
        std::cout << name << ": " << data.size() << " bytes, " << tree.nodes.size() << " chunks\n";
        kv::dump::ChunkTreePrint(std::cout, tree, print);
        if (!OutputWritten()) return kExitUsage;
        if (!tree.Ok()) {
            kv::dump::ChunkProblemsPrint(std::cerr, tree, name);
            if (status == kExitOk) status = kExitMalformed;
        }
    }
    // A close can still fail where the data is written late (a network file).
    if (!OutputWritten()) return kExitUsage;
    if (close(STDOUT_FILENO) != 0 && errno != EBADF) {
        std::cerr << "kvdump: cannot write the output: " << std::strerror(errno) << "\n";
        return kExitUsage;
    }
    return status;
}
