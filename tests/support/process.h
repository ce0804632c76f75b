// Runs built executables as child processes and captures what they print; scratch folders and
// whole-file reads and writes.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// Environment variables given to a child program, as name and value.
using Env = std::vector<std::pair<std::string, std::string>>;

struct RunResult {
    std::string out; // standard output, byte for byte
    std::string err; // standard error
    int status = -1; // exit status, or 128 + signal
};

// A program running in the background with the environment cleared of LPTSPI_SIM_* and
// LPTSPI_PORT and then given `env`, its output gathered while the test waits. Killed if still running when destroyed.
class Child {
  public:
    // With `stdout_closed` the program's standard output is a pipe nobody reads any more.
    Child(const std::vector<std::string>& argv, const Env& env, bool stdout_closed = false);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Gathers output until standard output holds `text`; false after 20 s or at its end.
    bool wait_for(const std::string& text);
    void signal(int number);
    // Gathers the rest of the output and waits for the program to end.
    RunResult finish();

  private:
    bool gather(int timeout_ms);

    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    RunResult result_;
};

// Runs `argv` to its end as a Child.
RunResult run_program(const std::vector<std::string>& argv, const Env& env = {});

// A fresh empty directory under the system's temporary folder, removed with its contents at
// the end of the test program.
std::string make_temp_dir();

// The names in `dir` other than "." and "..", sorted.
std::vector<std::string> folder_entries(const std::string& dir);

std::string read_file(const std::string& path);
std::vector<uint8_t> read_bytes(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
