#pragma once
// The function behind each script function, by its row of the table in
// contract/script_functions.h: the one place that knows the three families
// (operations/implementations.cpp), so that the plug-in shell registers
// them without including any of them.

#include <cstddef>

namespace zorvan::ops {

// The address of the implementation of script_functions[row].
void* implementation_of(std::size_t row);

}  // namespace zorvan::ops
