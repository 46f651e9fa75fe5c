// kvdump: prints the chunk tree of files in the engine's chunked binary
// format, such as a saved dome.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "chunkwalk.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitMalformed = 1;
constexpr int kExitUsage = 2;

void Usage(std::ostream& out) {
    out << "usage: kvdump [options] FILE...\n"
           "\n"
           "Prints the chunk tree of each FILE (\"-\" reads standard input): every\n"
           "chunk's offset, type and name, body length and version, nested as the\n"
           "known container chunks nest, with strings as text and short summaries of\n"
           "frame lists, geometries, materials, atomics and mesh extensions.\n"
           "\n"
           "options:\n"
           "  -h, --help         show this help and exit\n"
           "  -b, --brief        one line per chunk, without per-frame or per-mesh lines\n"
           "  -a, --all          show every detail line (by default 16 per chunk)\n"
           "  --max-depth N      report nesting deeper than N levels (default 32)\n"
           "\n"
           "exit status: 0 every file is well formed; 1 a file is malformed (each\n"
           "problem is reported on standard error with its offset); 2 bad usage or a\n"
           "file that cannot be read.\n";
}

bool ReadAll(const std::string& name, std::vector<uint8_t>* data) {
    if (name == "-") {
        data->assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return !std::cin.bad();
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    kv::dump::PrintOptions print;
    kv::dump::WalkOptions walk;
    std::vector<std::string> files;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsDone || a == "-" || a.empty() || a[0] != '-') {
            files.push_back(a);
        } else if (a == "--") {
            optionsDone = true;
        } else if (a == "-h" || a == "--help") {
            Usage(std::cout);
            return kExitOk;
        } else if (a == "-b" || a == "--brief") {
            print.details = false;
        } else if (a == "-a" || a == "--all") {
            print.maxDetails = static_cast<std::size_t>(-1);
        } else if (a == "--max-depth") {
            char* end = nullptr;
            const long n = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : -1;
            if (end == nullptr || *end != '\0' || n < 1 || n > 1000) {
                std::cerr << "kvdump: --max-depth needs a number from 1 to 1000\n";
                return kExitUsage;
            }
            walk.maxDepth = static_cast<int>(n);
            ++i;
        } else {
            std::cerr << "kvdump: unknown option " << a << "\n";
            Usage(std::cerr);
            return kExitUsage;
        }
    }
    if (files.empty()) {
        Usage(std::cerr);
        return kExitUsage;
    }

    int status = kExitOk;
    for (const std::string& name : files) {
        std::vector<uint8_t> data;
        if (!ReadAll(name, &data)) {
            std::cerr << "kvdump: cannot read " << name << ": " << std::strerror(errno) << "\n";
            status = kExitUsage;
            continue;
        }
        const kv::dump::ChunkTree tree = kv::dump::ChunkWalk(data, walk);
        if (files.size() > 1) std::cout << (&name == &files.front() ? "" : "\n");
        std::cout << name << ": " << data.size() << " bytes, " << tree.nodes.size() << " chunks\n";
        kv::dump::ChunkTreePrint(std::cout, tree, print);
        std::cout.flush();
        if (!tree.Ok()) {
            kv::dump::ChunkProblemsPrint(std::cerr, tree, name);
            if (status == kExitOk) status = kExitMalformed;
        }
    }
    return status;
}
