// Runs a program with a changed environment and collects its exit status and its output.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace removal_test {

struct ProgramResult {
    int status = -1;      // exit status, or -1 when it did not exit by itself
    std::string errors;   // what it wrote to standard error
    std::string output;   // what it wrote to standard output
};

// env: variables to set; a variable mapped to nullopt is removed.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::optional<std::string>>& env);

}  // namespace removal_test
