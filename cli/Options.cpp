// The one option parser of kestrane-analyse's commands and the readers their option tables use.
#include "cli/Options.h"

#include <algorithm>
#include <ostream>

namespace kestrane {

namespace {

bool isOption(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-';
}

} // namespace

std::vector<std::string> optionArguments(const std::vector<std::string>& args) {
    std::vector<std::string> options;
    for (const std::string& a : args) {
        if (a == "--") {
            break;
        }
        if (isOption(a)) {
            options.push_back(a);
        }
    }
    return options;
}

std::string optionName(const std::string& option) {
    return option.substr(0, option.find('='));
}

std::array<std::string, 2> parseCommandLine(const std::vector<std::string>& args,
                                            const CommandSyntax& syntax) {
    std::vector<std::string> files;
    bool optionsEnded = false;
    for (const std::string& a : args) {
        if (optionsEnded || !isOption(a)) {
            files.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        const std::string name = optionName(a);
        const auto rule = std::find_if(syntax.options.begin(), syntax.options.end(),
                                       [&](const OptionRule& r) { return name == r.name; });
        if (rule == syntax.options.end()) {
            throw CommandError("unknown option '" + a + "'; " + syntax.usage);
        }
        const bool hasValue = a.size() > name.size();
        if (!rule->takesValue) {
            if (hasValue) {
                throw CommandError(name + " takes no value, not '" + a + "'; " + syntax.usage);
            }
            rule->read(rule->name, std::string());
            continue;
        }
        if (a.size() <= name.size() + 1) {
            throw CommandError(name + " needs a value (" + name + "=...)");
        }
        rule->read(rule->name, a.substr(name.size() + 1));
    }
    if (files.size() != 2) {
        throw CommandError(std::string(syntax.files) + " expected, " + std::to_string(files.size()) +
                           " given; " + syntax.usage);
    }
    return {files[0], files[1]};
}

OptionReader readText(std::string& target) {
    return [&target](const char*, const std::string& value) { target = value; };
}

OptionReader readFlag(bool& target) {
    return [&target](const char*, const std::string&) { target = true; };
}

OptionReader readWholeNumber(int& target, int low, int high) {
    return [&target, low, high](const char* option, const std::string& text) {
        std::int64_t value = 0;
        if (!plainWholeNumber(text, false, low, high, value)) {
            throw CommandError(std::string(option) + " must be a whole number from " + std::to_string(low) +
                               " to " + std::to_string(high) + ", not '" + text + "'");
        }
        target = static_cast<int>(value);
    };
}

bool plainWholeNumber(const std::string& text, bool negative, std::int64_t low, std::int64_t high,
                      std::int64_t& value) {
    const std::size_t first = negative && !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == first || text.size() - first > 18 ||
        !std::all_of(text.begin() + static_cast<std::ptrdiff_t>(first), text.end(),
                     [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    std::int64_t v = 0;
    for (std::size_t i = first; i < text.size(); ++i) {
        v = v * 10 + (text[i] - '0');
    }
    value = first == 1 ? -v : v;
    return value >= low && value <= high;
}

std::optional<RecordedSettings> readMovieSettings(const std::string& movie, std::ostream& err) {
    std::optional<RecordedSettings> settings;
    std::string error;
    if (!readRecordedSettings(movie, settings, error)) {
        err << "kestrane-analyse: settings ignored: " << error << '\n';
        return std::nullopt;
    }
    return settings;
}

void reportTakenSettings(const std::string& movie, const std::vector<std::string>& taken, std::ostream& err) {
    if (taken.empty()) {
        return;
    }
    err << "kestrane-analyse: from '" << settingsFileName(movie) << "': ";
    for (std::size_t i = 0; i < taken.size(); ++i) {
        err << (i == 0 ? "" : ", ") << taken[i];
    }
    err << '\n';
}

std::string allowedValues(const std::vector<const char*>& names) {
    std::string allowed;
    for (std::size_t i = 0; i < names.size(); ++i) {
        allowed += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + std::string(names[i]);
    }
    return allowed;
}

std::array<std::int32_t, 4> readRegionEdges(const char* option, const std::string& text) {
    std::array<std::int32_t, 4> edges{};
    std::size_t start = 0;
    for (std::size_t i = 0; i < edges.size(); ++i) {
        const std::size_t comma = i < 3 ? text.find(',', start) : text.size();
        std::int64_t v = 0;
        if (comma == std::string::npos ||
            !plainWholeNumber(text.substr(start, comma - start), true, INT32_MIN, INT32_MAX, v)) {
            throw CommandError(std::string(option) +
                               " needs four whole numbers LEFT,TOP,RIGHT,BOTTOM, not '" + text + "'");
        }
        edges[i] = static_cast<std::int32_t>(v);
        start = comma + 1;
    }
    return edges;
}

} // namespace kestrane
