#pragma once

#include <functional>
#include <string>

// Where the FOD parse and fit send their texts: `output` goes to the FOD pane exactly as given
// (the texts carry their own line ends), `debug` to the debug log. Either may be empty.
struct FodMessages {
    std::function<void(const std::string &)> output;
    std::function<void(const std::string &)> debug;

    void out(const std::string &text) const
    {
        if (output)
            output(text);
    }
    void log(const std::string &text) const
    {
        if (debug)
            debug(text);
    }
};
