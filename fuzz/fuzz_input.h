#pragma once
// The readers take a path, so each input is written to one scratch file first.

#include <cstddef>
#include <cstdint>
#include <string>

// Writes the input to the scratch file of this process and returns its path.
const std::string& fuzz_input_file(const uint8_t* data, size_t size);
// Silences the system log for the whole run.
void fuzz_quiet_log();
