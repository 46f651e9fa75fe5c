// String and file function tables of the engine instance: the rest of the
// engine reaches the C library only through these.
#pragma once

#include <cstdarg>
#include <cstdio>

#include "types.h"

namespace kv {

struct StringFunctions {
    int (*kvsprintf)(char* buffer, const char* format, ...);
    int (*kvvsprintf)(char* buffer, const char* format, va_list args);
    char* (*kvstrcpy)(char* dst, const char* src);
    char* (*kvstrncpy)(char* dst, const char* src, std::size_t n);
    char* (*kvstrcat)(char* dst, const char* src);
    char* (*kvstrncat)(char* dst, const char* src, std::size_t n);
    const char* (*kvstrrchr)(const char* s, int c);
    const char* (*kvstrchr)(const char* s, int c);
    const char* (*kvstrstr)(const char* s, const char* find);
    int (*kvstrcmp)(const char* a, const char* b);
    int (*kvstricmp)(const char* a, const char* b);
    std::size_t (*kvstrlen)(const char* s);
    char* (*kvstrupr)(char* s);
    char* (*kvstrlwr)(char* s);
    char* (*kvstrtok)(char* s, const char* delimiters);
    int (*kvsscanf)(const char* s, const char* format, ...);
};

struct FileFunctions {
    bool (*kvfexist)(const char* name);
    void* (*kvfopen)(const char* name, const char* access);
    int (*kvfclose)(void* file);
    std::size_t (*kvfread)(void* addr, std::size_t size, std::size_t count, void* file);
    std::size_t (*kvfwrite)(const void* addr, std::size_t size, std::size_t count, void* file);
    char* (*kvfgets)(char* buffer, int maxLen, void* file);
    int (*kvfputs)(const char* buffer, void* file);
    int (*kvfeof)(void* file);
    int (*kvfseek)(void* file, long offset, int whence);
    int (*kvfflush)(void* file);
    long (*kvftell)(void* file);
};

const StringFunctions* StringFunctionsDefault();
// The default file functions are the C library's, but for one thing: a file
// opened for reading (an access of "r" or "rb", no "+") is opened only when it
// is a regular file. Nothing the engine reads can then hold it up: a named
// pipe would wait for a writer in open(), and a device such as /dev/zero
// never ends. Others fail with errno EISDIR (a folder) or ENODEV.
const FileFunctions* FileFunctionsDefault();

// Told about every name a read open of the default functions refused for not
// being a regular file, with what it is in words ("a named pipe"), so that a
// program can say why it passed over a file that is there. Null for none.
using FileRefusedHook = void (*)(const char* name, const char* kind);
void FileSetRefusedHook(FileRefusedHook hook);

// The engine's own small helpers behind the tables.
int StrICmp(const char* a, const char* b);
char* StrUpr(char* s);
char* StrLwr(char* s);

}  // namespace kv
