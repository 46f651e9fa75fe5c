#include "file_system.h"

#include "engine/core/engine.h"

namespace kv {

bool FileSystemPathTest(const char* name) {
    const EngineInstance* e = EngineInstanceGet();
    if (e == nullptr || name == nullptr) return false;
    void* file = e->fileFuncs.kvfopen(name, "rb");
    if (file == nullptr) return false;
    e->fileFuncs.kvfclose(file);
    return true;
}

void FileSystemInstallPathTest(EngineInstance* instance) {
    if (instance->fileFuncs.kvfexist == FileFunctionsDefault()->kvfexist) {
        instance->fileFuncs.kvfexist = FileSystemPathTest;
    }
}

}  // namespace kv
