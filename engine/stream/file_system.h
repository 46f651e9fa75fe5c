// The engine's file-system helpers over the instance's file functions.
#pragma once

#include "engine/core/types.h"

namespace kv {

struct EngineInstance;

// A file exists when it can be opened for reading through the instance's own
// open function; it is closed again at once.
bool FileSystemPathTest(const char* name);

// Makes the instance's path test go through its open and close functions, so
// that replacing those also redirects the test. A path test the program has
// replaced itself is left alone.
void FileSystemInstallPathTest(EngineInstance* instance);

}  // namespace kv
