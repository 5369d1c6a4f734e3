#pragma once
// `zorvan info FILE...`: what each image in the files is, without reading
// their pixels.

#include <string>
#include <vector>

namespace zorvan::cli {

// Prints every image of every file; a file that cannot be listed is
// reported on stderr and the others still listed. Returns the exit status:
// 0, or 2 when a file could not be listed.
int print_info(const std::vector<std::string>& paths);

}  // namespace zorvan::cli
