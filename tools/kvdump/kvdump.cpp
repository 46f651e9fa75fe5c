// kvdump: prints the chunk tree of files in the engine's chunked binary
// format, such as a saved dome.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "chunk_walk.h"
#include "engine/core/quoted_name.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitMalformed = 1;
constexpr int kExitUsage = 2;
// Files are read whole into memory (once: see FileBytes); larger ones (or endless ones, such as a
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
           "file that cannot be read or is too large, memory that runs out, or\n"
           "output that cannot be written.\n";
}

// A whole number from min to max, or -1.
long WholeNumber(const char* text, long min, long max) {
    if (text == nullptr || *text == '\0') return -1;
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text, &end, 10);
    return *end != '\0' || errno != 0 || n < min || n > max ? -1 : n;
}

// The bytes of a file, in memory mapped for them alone: it grows without
// copying what it holds (mremap), so that a file of n bytes takes n bytes,
// never twice that while it is read.
class FileBytes {
  public:
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes() { Release(); }

    const uint8_t* data() const { return static_cast<const uint8_t*>(base_); }
    std::size_t size() const { return size_; }
    // Room for at least n bytes; false (errno set) when memory runs out.
    bool Reserve(std::size_t n) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        n = (n + page - 1) / page * page;
        if (n <= capacity_) return true;
        void* grown = base_ == nullptr ? mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                       : mremap(base_, capacity_, n, MREMAP_MAYMOVE);
        if (grown == MAP_FAILED) return false;
        base_ = grown;
        capacity_ = n;
        return true;
    }
    // Reads once into the room after the bytes held: read()'s result.
    ssize_t ReadFrom(int fd) {
        const ssize_t n = read(fd, static_cast<uint8_t*>(base_) + size_, capacity_ - size_);
        if (n > 0) size_ += static_cast<std::size_t>(n);
        return n;
    }
    bool Full() const { return size_ == capacity_; }
    void Release() {
        if (base_ != nullptr) munmap(base_, capacity_);
        base_ = nullptr;
        capacity_ = size_ = 0;
    }

  private:
    void* base_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
};

// Reads the whole file (standard input for "-"). False with *why set when it
// cannot be read, memory runs out, or it is larger than limit bytes.
bool ReadAll(const std::string& name, std::size_t limit, FileBytes* data, std::string* why) {
    const bool standardInput = name == "-";
    const int fd = standardInput ? STDIN_FILENO : open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    constexpr std::size_t kPiece = 1 << 20;
    bool ok = true;
    // A regular file says its size: room for all of it (and the byte that
    // tells whether it grew) at once.
    struct stat info;
    std::size_t room = kPiece;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        room = std::min(static_cast<std::size_t>(info.st_size), limit) + 1;
    }
    for (;;) {
        // Grown by doubling, but never past what the limit can need: one
        // byte past it tells a file of exactly the limit from a larger one.
        if ((data->Full() || data->size() == 0) &&
            !data->Reserve(std::min(std::max(room, 2 * data->size()), limit + 1))) {
            *why = std::string("out of memory (") + std::strerror(errno) + ")";
            ok = false;
            break;
        }
        const ssize_t n = data->ReadFrom(fd);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *why = std::strerror(errno);
            ok = false;
            break;
        }
        if (n == 0) break;
        if (data->size() > limit) {
            *why = "larger than " + std::to_string(limit >> 20) + " MiB (see --max-size); not dumped";
            ok = false;
            break;
        }
    }
    if (!standardInput) close(fd);
    if (!ok) data->Release();
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
        FileBytes data;
        std::string why;
        if (!ReadAll(name, maxBytes, &data, &why)) {
            std::cerr << "kvdump: cannot read " << kv::QuotedName(name) << ": " << why << "\n";
            status = kExitUsage;
            continue;
        }
        // A file of many small chunks makes a tree larger than itself: when
        // memory runs out for it, that file is not dumped, as the help says.
        try {
            const kv::dump::ChunkTree tree = kv::dump::ChunkWalk(data.data(), data.size(), walk);
            data.Release();
            if (files.size() > 1 && !first) std::cout << "\n";
            first = false;
            std::cout << kv::QuotedName(name) << ": " << tree.size << " bytes, " << tree.nodes.size() << " chunks\n";
            kv::dump::ChunkTreePrint(std::cout, tree, print);
            if (!OutputWritten()) return kExitUsage;
            if (!tree.Ok()) {
                kv::dump::ChunkProblemsPrint(std::cerr, tree, kv::QuotedName(name));
                if (status == kExitOk) status = kExitMalformed;
            }
        } catch (const std::bad_alloc&) {
            std::cout.flush();
            std::cerr << "kvdump: cannot dump " << kv::QuotedName(name) << ": out of memory for its chunk tree\n";
            status = kExitUsage;
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
