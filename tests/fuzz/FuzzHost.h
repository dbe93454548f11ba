// The test host every fuzzer runs against: one FakeEnv installed for the
// whole process, emptied before each input so memory stays flat.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/support/FakeEnv.h"

namespace fuzzing {

// The installed environment, with what the previous input left removed.
testing_host::FakeEnv& FreshHost();

// Splits `data` at the first newline: `head` before it, `rest` after it
// (no newline: everything is `rest`).
void SplitHead(const uint8_t* data, size_t size, std::string* head,
               std::string* rest);

// Stops the run with a message libFuzzer reports as a crash.
[[noreturn]] void Fail(const char* what, const std::string& detail);

}  // namespace fuzzing
