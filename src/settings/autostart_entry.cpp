#include "settings/autostart_entry.h"

namespace {

// Characters that make a desktop-entry argument need quotes.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

// Escapes of the desktop-entry string type, applied to the whole Exec value.
std::string EscapeString(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

std::string AutostartCommandLine(std::string_view programPath) {
    std::string argument;
    const bool quote = programPath.find_first_of(kReserved) != std::string_view::npos;
    for (char c : programPath) {
        if (c == '%') {
            argument += "%%";  // a lone % would start a field code
        } else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            argument += '\\';
            argument += c;
        } else {
            argument += c;
        }
    }
    if (quote) argument = "\"" + argument + "\"";
    return argument + " -auto";
}

std::string AutostartEntryText(std::string_view programPath) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Strelvane\n"
           "Exec=" +
           EscapeString(AutostartCommandLine(programPath)) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}
