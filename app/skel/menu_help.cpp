// The help page's text: read from the program's data folders into lines the
// page can show.
#include "menu_help.h"

#include <cstring>
#include <string>

#include "engine/core/engine.h"
#include "engine/core/memory.h"

namespace kv {

namespace {

constexpr const char* kNoHelp = "Cannot open help file";
constexpr const char* kHelpOutOfMemory = "Out of memory - not all of help loaded";
constexpr const char* kHelpCut = "[The help stops here: the file is longer than 1500 lines.]";
constexpr const char* kHelpCutSize = "[The help stops here: the file is larger than 1 MB.]";

int32 TextLength(const char* s) { return static_cast<int32>(std::strlen(s)); }

void FreeHelp(MenuHelp* help) {
    for (int32 i = 0; i < help->count; ++i) KvFree(help->lines[i]);
    help->count = 0;
    help->scroll = 0;
}

bool AddHelpLine(MenuHelp* help, const char* text, int32 length) {
    auto* copy = static_cast<char*>(KvMalloc(static_cast<std::size_t>(length) + 1));
    if (copy == nullptr) return false;
    std::memcpy(copy, text, static_cast<std::size_t>(length));
    copy[length] = '\0';
    help->lines[help->count++] = copy;
    return true;
}

// The page's last line becomes a note when the table is full.
void AddHelpNote(MenuHelp* help, const char* note, bool* outOfMemory) {
    if (help->count == kMenuHelpMaxLines) KvFree(help->lines[--help->count]);
    if (!AddHelpLine(help, note, TextLength(note))) *outOfMemory = true;
}

// The program's data folders in their order, so that a program started from
// any folder finds its own help (and only a folder given with --data can
// offer another).
void* OpenHelpFile() {
    const FileFunctions& f = EngineInstanceGet()->fileFuncs;
    for (int32 i = 0; const char* folder = ShellDataFolder(i); ++i) {
        for (const char* name : {"readme.txt", "win.txt"}) {
            void* file = f.kvfopen((std::string(folder) + name).c_str(), "r");
            if (file != nullptr) return file;
        }
    }
    return nullptr;
}

// Splits the text into lines of at most 78 characters: a longer line goes on
// in the next ones, broken after a word where it can and indented like its
// start. Characters outside the font's printable range become spaces.
class HelpReader {
  public:
    explicit HelpReader(MenuHelp* help) : help_(help) {}
    // False when the table is full or memory ran out: reading stops.
    bool Put(char c) {
        if (c == '\n') return EndLine();
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u >= 128) c = ' ';
        if (atStart_) {
            if (c != ' ') {
                atStart_ = false;
            } else if (indent_ < kMaxIndent) {
                ++indent_;
            }
        }
        pending_[length_++] = c;
        return length_ <= kMenuHelpColumns || Wrap();
    }
    bool Finish() { return length_ == 0 || EndLine(); }
    bool outOfMemory = false;

  private:
    static constexpr int32 kMaxIndent = 20;

    bool EndLine() {
        const bool ok = Emit(length_);
        length_ = 0;
        indent_ = 0;
        atStart_ = true;
        return ok;
    }
    // One character too many is pending: emit up to the last space after the
    // indent (or 78 characters of a word that long) and keep the rest.
    bool Wrap() {
        int32 cut = kMenuHelpColumns;
        for (int32 i = kMenuHelpColumns; i > indent_; --i) {
            if (pending_[i] == ' ') {
                cut = i;
                break;
            }
        }
        // A run of blanks is not worth a line of its own.
        int32 used = cut;
        while (used > 0 && pending_[used - 1] == ' ') --used;
        if (used > 0 && !Emit(used)) return false;
        int32 from = cut;
        while (from < length_ && pending_[from] == ' ') ++from;
        const int32 rest = length_ - from;
        std::memmove(pending_ + indent_, pending_ + from, static_cast<std::size_t>(rest));
        std::memset(pending_, ' ', static_cast<std::size_t>(indent_));
        length_ = indent_ + rest;
        return true;
    }
    bool Emit(int32 length) {
        while (length > 0 && pending_[length - 1] == ' ') --length;
        if (help_->count == kMenuHelpMaxLines) {
            // The table is full and there is more: its last line says so.
            AddHelpNote(help_, kHelpCut, &outOfMemory);
            return false;
        }
        if (!AddHelpLine(help_, pending_, length)) {
            outOfMemory = true;
            return false;
        }
        return true;
    }

    MenuHelp* help_;
    char pending_[kMenuHelpColumns + 1];
    int32 length_ = 0;
    int32 indent_ = 0;
    bool atStart_ = true;
};

}  // namespace

bool MenuHelpLoad(MenuHelp* help) {
    FreeHelp(help);
    if (!AddHelpLine(help, kNoHelp, TextLength(kNoHelp))) return false;
    void* file = OpenHelpFile();
    if (file == nullptr) return true;
    FreeHelp(help);
    const FileFunctions& f = EngineInstanceGet()->fileFuncs;
    HelpReader reader(help);
    // Read in blocks, every byte counted (a NUL too), and no further than the
    // size cap: a file of blanks or NULs makes no lines, so the line cap alone
    // would never stop it.
    char chunk[256];
    std::size_t total = 0;
    bool reading = true, tooLarge = false;
    while (reading) {
        const std::size_t room = kMenuHelpMaxBytes + 1 - total;
        const std::size_t n = f.kvfread(chunk, 1, room < sizeof chunk ? room : sizeof chunk, file);
        if (n == 0) break;
        total += n;
        tooLarge = total > kMenuHelpMaxBytes;
        const std::size_t use = tooLarge ? n - 1 : n;
        for (std::size_t i = 0; i < use && reading; ++i) reading = reader.Put(chunk[i]);
        if (tooLarge) break;
    }
    if (reading) reading = reader.Finish();
    if (reading && tooLarge) AddHelpNote(help, kHelpCutSize, &reader.outOfMemory);
    f.kvfclose(file);
    if (reader.outOfMemory) PlatformErrorMessage(kHelpOutOfMemory);
    return help->count > 0;
}

void MenuHelpFree(MenuHelp* help) { FreeHelp(help); }

}  // namespace kv
