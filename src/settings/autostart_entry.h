#pragma once

#include <string>
#include <string_view>

// The desktop's start-at-log-on entry for the program (an XDG autostart .desktop file),
// which stands in for the "Strelvane" value of the per-user Run key.

// The command line of the entry: the program's path followed by " -auto", with the
// path quoted the way desktop entries require when it holds blanks or other reserved
// characters (an unquoted path with a blank would start a different program).
std::string AutostartCommandLine(std::string_view programPath);

// The whole text of the entry file.
std::string AutostartEntryText(std::string_view programPath);
