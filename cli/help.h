#pragma once
// `zorvan help`, `zorvan help NAME`, `zorvan help --markdown` and
// `zorvan list`, from the table of script functions.

#include <string>
#include <vector>

namespace zorvan::cli {

extern const char* const usage;

// The words after the options: "help" and at most one more.
void print_help(const std::vector<std::string>& words);

// Every prototype, one a line, in the order the host receives them.
void print_list();

// The README's function table rows: | `prototype` | summary | pixel types |
std::string function_table_markdown();

}  // namespace zorvan::cli
