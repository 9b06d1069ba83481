// What the commands of kestrane-analyse share in reading their options.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>

namespace kestrane {

// A bad option or argument; the message is the whole line the tool prints.
struct CommandError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The value of `arg` when it is "<name>=value".
inline bool optionValue(const std::string& arg, const char* name, std::string& value) {
    const std::string prefix = std::string(name) + "=";
    if (arg.rfind(prefix, 0) != 0) {
        return false;
    }
    value = arg.substr(prefix.size());
    return true;
}

// One value out of a fixed list; `option` names the option in the message.
template <typename T, std::size_t N>
T chooseOption(const std::string& text, const char* option, const std::pair<const char*, T> (&choices)[N]) {
    for (const auto& [name, value] : choices) {
        if (text == name) {
            return value;
        }
    }
    std::string allowed;
    for (std::size_t i = 0; i < N; ++i) {
        allowed += (i == 0 ? "" : i + 1 == N ? " or " : ", ") + std::string(choices[i].first);
    }
    throw CommandError(std::string("kestrane-analyse: ") + option + " must be " + allowed + ", not '" + text +
                       "'");
}

// The position 1..5 of the display scale --maxsin names (0.2 to 1.0; "1" stands for 1.0).
inline int maxSinPosition(const std::string& text) {
    static const std::pair<const char*, int> kScales[] = {
        {"0.2", 1}, {"0.4", 2}, {"0.6", 3}, {"0.8", 4}, {"1.0", 5}};
    return text == "1" ? 5 : chooseOption(text, "--maxsin", kScales);
}

// The |sin δ| limit --sindlimit names: a whole number from 0 to 40.
inline int sinDLimitOption(const std::string& text) {
    std::size_t used = 0;
    int limit = -1;
    try {
        limit = std::stoi(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size() || limit < 0 || limit > 40) {
        throw CommandError("kestrane-analyse: --sindlimit must be a whole number from 0 to 40, not '" + text +
                           "'");
    }
    return limit;
}

} // namespace kestrane
