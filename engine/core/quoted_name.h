// File names as messages show them: a name with no control characters (and
// valid UTF-8) as it is, any other quoted the way ls quotes it, so that an
// escape sequence in a name reaches the terminal as text, never as a command:
// "a<ESC>[2Jb" is shown 'a'$'\033''[2Jb'.
#pragma once

#include <string>

namespace kv {

std::string QuotedName(const std::string& name);

}  // namespace kv
