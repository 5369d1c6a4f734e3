#pragma once
// What `zorvan help NAME` says about each script function.

#include <string_view>

namespace zorvan::cli {

struct FunctionHelp {
    std::string_view name;
    std::string_view description;
    std::string_view pixel_types;
    std::string_view example;
};

// The help of a registered function, or null.
const FunctionHelp* find_help(std::string_view name);

}  // namespace zorvan::cli
