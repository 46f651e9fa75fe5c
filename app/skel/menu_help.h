// The help page's text, read when the menu opens: "readme.txt", else
// "win.txt", in the first of the program's data folders that has one.
#pragma once

#include "app/skel/menu.h"

namespace kv {

struct MenuHelp {
    char* lines[kMenuHelpMaxLines];
    int32 count;
    int32 scroll;  // the page's first line
};

// Replaces the lines with the file's (or the line "Cannot open help file");
// true when there is at least one line.
bool MenuHelpLoad(MenuHelp* help);
void MenuHelpFree(MenuHelp* help);

}  // namespace kv
