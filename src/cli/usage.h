// The usage text, written to standard error when the command line is wrong.
#pragma once

#include <cstdio>

namespace stopex {

// Writes the usage text exactly as the program prints it.
void WriteUsage(std::FILE* err);

// Writes the usage text and ends the process with status 7, flushing the streams.
[[noreturn]] void ShowUsage();

}  // namespace stopex
