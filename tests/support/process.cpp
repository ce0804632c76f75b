#include "process.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Folders made by make_temp_dir, removed when the test program ends.
struct TempDirs {
    std::vector<std::string> dirs;
    ~TempDirs() {
        for (const auto& dir : dirs)
            std::system(("rm -rf '" + dir + "'").c_str());
    }
};

TempDirs& temp_dirs() {
    static TempDirs dirs;
    return dirs;
}

} // namespace

std::vector<std::string>
child_environment(const std::vector<std::pair<std::string, std::string>>& env) {
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; e++) {
        if (std::strncmp(*e, "LPTSPI_SIM_", 11) != 0)
            environment.emplace_back(*e);
    }
    for (const auto& [name, value] : env)
        environment.push_back(name + "=" + value);
    return environment;
}

std::vector<char*> c_pointers(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (const auto& s : strings)
        pointers.push_back(const_cast<char*>(s.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

RunResult run_program(const std::vector<std::string>& argv,
                      const std::vector<std::pair<std::string, std::string>>& env) {
    const std::vector<std::string> environment = child_environment(env);
    std::vector<char*> args = c_pointers(argv), envp = c_pointers(environment);

    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid == 0) {
        int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);

    RunResult result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0)
            break;
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[65536];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                open_count--;
            }
        }
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return result;
}

std::string make_temp_dir() {
    char pattern[] = "/tmp/lptspi-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    temp_dirs().dirs.push_back(pattern);
    return pattern;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
