#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/skel/sdl/platform.h"

namespace kv {
namespace {

// Splits and checks the block's shape: `count` pointers, a null after them,
// each pointing into the copy of the line that follows the pointers.
std::vector<std::string> Split(const char* line) {
    int32 count = -1;
    char** args = CommandLineSplit(line, &count);
    EXPECT_NE(args, nullptr);
    if (args == nullptr) return {};
    std::vector<std::string> out;
    const char* copy = reinterpret_cast<const char*>(args + count + 1);
    const std::size_t length = line != nullptr ? std::strlen(line) : 0;
    for (int32 i = 0; i < count; ++i) {
        EXPECT_NE(args[i], nullptr);
        if (args[i] == nullptr) break;
        EXPECT_GE(args[i], copy);
        EXPECT_LE(args[i] + std::strlen(args[i]), copy + length);
        out.emplace_back(args[i]);
    }
    EXPECT_EQ(args[count], nullptr);
    CommandLineFree(args);
    return out;
}

using Args = std::vector<std::string>;

TEST(CommandLine, QuotedWordsStayTogetherAndLoseTheirQuotes) {
    EXPECT_EQ(Split("C:\\prog.exe a \"b c\" d"), (Args{"C:\\prog.exe", "a", "b c", "d"}));
    EXPECT_EQ(Split("\"/opt/my app/skydome\" -vms"), (Args{"/opt/my app/skydome", "-vms"}));
    // Quotes inside a word toggle the state but stay in the word.
    EXPECT_EQ(Split("a\"b c\"d e"), (Args{"a\"b c\"d", "e"}));
    // An unclosed quote runs to the end of the line.
    EXPECT_EQ(Split("x \"open to the end"), (Args{"x", "open to the end"}));
}

TEST(CommandLine, EveryControlCharacterSeparates) {
    EXPECT_EQ(Split("  a\tb\r\nc\x01"
                    "d   "),
              (Args{"a", "b", "c", "d"}));
    EXPECT_EQ(Split("\"a\tb\""), (Args{"a\tb"}));
    EXPECT_EQ(Split(""), Args{});
    EXPECT_EQ(Split(" \t "), Args{});
    EXPECT_EQ(Split(nullptr), Args{});
    // '!' is the first character that is not a separator.
    EXPECT_EQ(Split("!a !"), (Args{"!a", "!"}));
}

TEST(CommandLine, AnArgumentOfOnlyQuotesIsNotCounted) {
    // Counting it but giving it no pointer would leave a hole at the end of
    // the array; both passes skip it.
    EXPECT_EQ(Split("prog \"\" a"), (Args{"prog", "a"}));
    EXPECT_EQ(Split("\"\"\"\""), Args{});
    EXPECT_EQ(Split("prog \""), (Args{"prog"}));
    EXPECT_EQ(Split("\"\" \"\" x \"\""), (Args{"x"}));
    // Quotes around a space are not only quotes.
    EXPECT_EQ(Split("a \" \" b"), (Args{"a", " ", "b"}));
}

}  // namespace
}  // namespace kv
