#include "quoted_name.h"

#include <cstdint>
#include <cstdio>

namespace kv {

namespace {

// The length of the UTF-8 sequence at s[at] that shows as text: 0 for a
// control character (C0, DEL, C1) or a byte that starts no valid sequence.
std::size_t TextLength(const std::string& s, std::size_t at) {
    const auto lead = static_cast<uint8_t>(s[at]);
    if (lead < 0x20 || lead == 0x7f) return 0;
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    uint32_t code = 0;
    if ((lead & 0xe0) == 0xc0) {
        length = 2;
        code = lead & 0x1fu;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3;
        code = lead & 0x0fu;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (at + length > s.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<uint8_t>(s[at + i]);
        if ((next & 0xc0) != 0x80) return 0;
        code = code << 6 | (next & 0x3fu);
    }
    // Overlong forms, surrogates, beyond Unicode, and the C1 controls (which
    // some terminals obey) are not text.
    static constexpr uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) return 0;
    if (code >= 0x80 && code <= 0x9f) return 0;
    return length;
}

}  // namespace

std::string QuotedName(const std::string& name) {
    bool plain = true;
    for (std::size_t at = 0; at < name.size() && plain;) {
        const std::size_t n = TextLength(name, at);
        plain = n > 0;
        at += n;
    }
    if (plain) return name;
    // Text in single quotes (a quote itself as '\''), every other byte as
    // $'\ooo' between them.
    std::string out;
    bool open = false;
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t n = TextLength(name, at);
        if (n == 0) {
            if (open) out += '\'';
            open = false;
            char octal[8];
            std::snprintf(octal, sizeof octal, "$'\\%03o'", static_cast<unsigned>(static_cast<uint8_t>(name[at])));
            out += octal;
            ++at;
            continue;
        }
        if (!open) out += '\'';
        open = true;
        if (name[at] == '\'') {
            out += "'\\''";
        } else {
            out.append(name, at, n);
        }
        at += n;
    }
    if (open) out += '\'';
    return out;
}

}  // namespace kv
