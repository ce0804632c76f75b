#include "process.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Folders made by make_temp_dir, removed when the test program ends.
struct TempDirs {
    std::vector<std::string> dirs;
    ~TempDirs() {
        for (const auto& dir : dirs) {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    }
};

TempDirs& temp_dirs() {
    static TempDirs dirs;
    return dirs;
}

// The environment a child program gets: this process's, cleared of LPTSPI_SIM_* and of the
// default port LPTSPI_PORT, then `env`.
std::vector<std::string> child_environment(const Env& env) {
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; e++) {
        if (std::strncmp(*e, "LPTSPI_SIM_", 11) != 0 && std::strncmp(*e, "LPTSPI_PORT=", 12) != 0)
            environment.emplace_back(*e);
    }
    for (const auto& [name, value] : env)
        environment.push_back(name + "=" + value);
    return environment;
}

// Null-terminated pointers to `strings`, for execve; valid while `strings` lives.
std::vector<char*> c_pointers(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (const auto& s : strings)
        pointers.push_back(const_cast<char*>(s.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

Child::Child(const std::vector<std::string>& argv, const Env& env, bool stdout_closed) {
    const std::vector<std::string> environment = child_environment(env);
    std::vector<char*> args = c_pointers(argv), envp = c_pointers(environment);

    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        throw std::runtime_error("pipe failed");
    if (stdout_closed) {
        close(out[0]);
        out[0] = -1;
    }
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {null_in, out[0], out[1], err[0], err[1]}) {
            if (fd > 2)
                close(fd);
        }
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
}

Child::~Child() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        finish();
    }
}

bool Child::wait_for(const std::string& text) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (result_.out.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline || !gather(100))
            return false;
    }
    return true;
}

void Child::signal(int number) {
    kill(pid_, number);
}

RunResult Child::finish() {
    while (gather(-1)) {
    }
    int wstatus = 0;
    waitpid(pid_, &wstatus, 0);
    pid_ = -1;
    result_.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return result_;
}

// One poll of both pipes; false once both are closed.
bool Child::gather(int timeout_ms) {
    if (fds_[0] < 0 && fds_[1] < 0)
        return false;
    pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    if (poll(p, 2, timeout_ms) < 0)
        return false;
    std::string* sinks[2] = {&result_.out, &result_.err};
    for (int i = 0; i < 2; i++) {
        if (fds_[i] < 0 || p[i].revents == 0)
            continue;
        char buffer[65536];
        ssize_t n = read(fds_[i], buffer, sizeof buffer);
        if (n > 0) {
            sinks[i]->append(buffer, static_cast<size_t>(n));
        } else {
            close(fds_[i]);
            fds_[i] = -1;
        }
    }
    return true;
}

RunResult run_program(const std::vector<std::string>& argv, const Env& env) {
    return Child(argv, env).finish();
}

std::string make_temp_dir() {
    char pattern[] = "/tmp/lptspi-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    temp_dirs().dirs.push_back(pattern);
    return pattern;
}

std::vector<std::string> folder_entries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    while (dirent* e = d != nullptr ? readdir(d) : nullptr) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    }
    if (d != nullptr)
        closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<uint8_t> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    write_file(path, std::string(bytes.begin(), bytes.end()));
}
