// Runs a built executable as a child process and captures what it prints.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct RunResult {
    std::string out; // standard output, byte for byte
    std::string err; // standard error
    int status = -1; // exit status, or 128 + signal
};

// Runs `argv` with the environment cleared of LPTSPI_SIM_* and then given `env`.
RunResult run_program(const std::vector<std::string>& argv,
                      const std::vector<std::pair<std::string, std::string>>& env = {});

// The environment a child program gets: this process's, cleared of LPTSPI_SIM_*, then `env`.
std::vector<std::string>
child_environment(const std::vector<std::pair<std::string, std::string>>& env);

// Null-terminated pointers to `strings`, for execve; valid while `strings` lives.
std::vector<char*> c_pointers(const std::vector<std::string>& strings);

// A fresh empty directory under the system's temporary folder, removed with its contents at
// the end of the test program.
std::string make_temp_dir();

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
