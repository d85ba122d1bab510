#include "app/cli/cli_args.h"

#include <algorithm>

std::optional<CliArgs> CliArgs::Parse(const std::vector<std::string>& args,
                                      const std::vector<OptionSpec>& specs, std::string& error) {
    CliArgs parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            parsed.positional_.push_back(arg);
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (size_t eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        auto option = std::find_if(specs.begin(), specs.end(),
                                   [&](const OptionSpec& s) { return s.Name == name; });
        if (option == specs.end()) {
            error = "unknown option " + name;
            return std::nullopt;
        }
        if (option->Kind == OptionKind::Flag) {
            if (inlineValue) {
                error = "option " + name + " takes no value";
                return std::nullopt;
            }
            parsed.values_[name];
            continue;
        }
        std::string value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = "option " + name + " needs a value";
            return std::nullopt;
        }
        auto& slot = parsed.values_[name];
        if (option->Kind == OptionKind::Single && !slot.empty()) {
            error = "option " + name + " given twice";
            return std::nullopt;
        }
        slot.push_back(value);
    }
    return parsed;
}

std::string CliArgs::Value(const std::string& name, const std::string& fallback) const {
    auto it = values_.find(name);
    return it == values_.end() || it->second.empty() ? fallback : it->second.front();
}

std::vector<std::string> CliArgs::Values(const std::string& name) const {
    auto it = values_.find(name);
    return it == values_.end() ? std::vector<std::string>{} : it->second;
}
