#pragma once

#include <cctype>
#include <string>

// Names a parameterised test after its row's `name`, with every character that GoogleTest does
// not allow in a test name turned into "_".
struct CaseName {
    template <typename Info>
    std::string operator()(const Info& info) const {
        std::string name = info.param.name;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    }
};
