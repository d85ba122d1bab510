#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

// Command-line options of one command: declared up front, so that an unknown option
// or a missing value is a clear error rather than a silent surprise.
enum class OptionKind { Flag, Single, Multi };

struct OptionSpec {
    std::string Name;  // with its dashes, e.g. "--interface"
    OptionKind Kind;
};

class CliArgs {
public:
    // Parses `args`; on failure returns nothing and sets `error` to a one-line message.
    static std::optional<CliArgs> Parse(const std::vector<std::string>& args,
                                        const std::vector<OptionSpec>& specs, std::string& error);

    bool Has(const std::string& name) const { return values_.count(name) > 0; }
    std::string Value(const std::string& name, const std::string& fallback = "") const;
    std::vector<std::string> Values(const std::string& name) const;
    const std::vector<std::string>& Positional() const { return positional_; }

private:
    std::map<std::string, std::vector<std::string>> values_;
    std::vector<std::string> positional_;
};
