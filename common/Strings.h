// Joining lists of names into one line, as log lines and command lines
// show them.
#pragma once

#include <list>
#include <string>
#include <vector>

// The items with `separator` (null: nothing) between each two.
std::string concatStrings(const std::vector<std::string>& items,
                          const char* separator);
std::string concatStrings(const std::list<std::string>& items,
                          const char* separator);
