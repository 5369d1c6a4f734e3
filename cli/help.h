#pragma once
// `zorvan help`, `zorvan help NAME`, `zorvan help --markdown`, `--help` on
// every command and `zorvan list`, from the table of script functions.

#include <string>
#include <vector>

namespace zorvan::cli {

// The synopsis of every command, printed after a usage error.
extern const char* const usage;

// The words after the options: "help" and at most one more.
void print_help(const std::vector<std::string>& words);

// `zorvan COMMAND --help`: wiener, info, demo, list, help or a function's
// name; anything else (or "") gives the whole help.
void print_command_help(const std::string& command);

// Every prototype, one a line, in the order the host receives them.
void print_list();

// The README's function table rows: | `prototype` | summary | pixel types |
std::string function_table_markdown();

}  // namespace zorvan::cli
