// The chip file: claim and lock, load, save through a temporary file, and interruption.
#include "chipfile.h"

#include "pc.h"
#include "state.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <libgen.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim::detail {

namespace {

std::string reason(int error) {
    return std::strerror(error);
}

std::string folder_of(const std::string& path) {
    std::string copy = path;
    return dirname(copy.data());
}

} // namespace

Claim claim_chip_file(ChipFile& f, const std::string& path, std::string& error) {
    const auto refuse = [&](const std::string& what, int code) {
        error = "LPTSPI_SIM_CHIP=" + path + ": " + what + (code != 0 ? ": " + reason(code) : "");
        return Claim::refused;
    };
    // Another run's save replaces the file by a new one; a lock taken on the old one is no lock.
    for (int attempt = 0; attempt < 100; ++attempt) {
        struct stat named {};
        const bool exists = ::stat(path.c_str(), &named) == 0;
        if (!exists && errno != ENOENT) {
            return refuse("cannot open the chip file", errno); // e.g. a path through a file, a loop
        }
        if (exists && !S_ISREG(named.st_mode)) {
            return refuse("not a regular file", 0); // a device or a pipe is never replaced
        }
        bool created = false;
        int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 && errno == ENOENT) {
            // No chip file yet: an empty one reads as an erased chip and gives the lock a home.
            fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            created = fd >= 0;
        }
        if (fd < 0) {
            return refuse("cannot open the chip file for reading and writing", errno);
        }
        struct stat opened {};
        const bool stat_ok = ::fstat(fd, &opened) == 0;
        if (!stat_ok || !S_ISREG(opened.st_mode)) {
            const int code = stat_ok ? 0 : errno;
            ::close(fd);
            return refuse("not a regular file", code);
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int code = errno;
            ::close(fd);
            if (code == EWOULDBLOCK) {
                f.path = path;
                f.held_elsewhere = true;
                return Claim::held_elsewhere;
            }
            return refuse("cannot lock the chip file", code);
        }
        struct stat now {};
        if (::stat(path.c_str(), &now) != 0 || now.st_dev != opened.st_dev ||
            now.st_ino != opened.st_ino) {
            ::close(fd);
            continue;
        }
        const auto give_up = [&](const std::string& what, int code) {
            if (created) {
                ::unlink(path.c_str());
            }
            ::close(fd);
            return refuse(what, code);
        };
        char* real = ::realpath(path.c_str(), nullptr);
        if (real == nullptr) {
            return give_up("cannot resolve the chip file's path", errno);
        }
        f.real_path = real;
        std::free(real);
        const std::string folder = folder_of(f.real_path);
        if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
            return give_up("cannot create files in its folder " + folder, errno);
        }
        f.path = path;
        f.fd = fd;
        f.held_elsewhere = false;
        return Claim::ok;
    }
    return refuse("the chip file keeps being replaced", EAGAIN);
}

void release_chip_file(ChipFile& f) {
    if (f.fd >= 0) {
        ::close(f.fd);
    }
    f = ChipFile{};
}

bool load_chip_file(const ChipFile& f, const std::string& path, std::vector<uint8_t>& memory,
                    std::string& error) {
    const bool claimed = f.fd >= 0 && f.path == path;
    int fd = claimed ? f.fd : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            return true; // no file yet: the chip starts as it is
        }
        error = "cannot read the chip file " + path + ": " + reason(errno);
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    int code = errno;
    if (ok && !S_ISREG(st.st_mode)) {
        ok = false;
        code = EINVAL;
    }
    if (ok && static_cast<uint64_t>(st.st_size) > memory.size()) {
        error = "the chip file " + path + " holds " + std::to_string(st.st_size) +
                " bytes, more than the " + std::to_string(memory.size()) + "-byte chip";
        if (!claimed) {
            ::close(fd);
        }
        return false;
    }
    size_t done = 0;
    while (ok && done < memory.size()) {
        const ssize_t n =
            ::pread(fd, memory.data() + done, memory.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0; // end of a shorter file: the rest of the chip keeps its bytes
            code = errno;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (!claimed) {
        ::close(fd);
    }
    if (!ok) {
        error = "cannot read the chip file " + path + ": " + reason(code);
    }
    return ok;
}

bool save_chip_file(const ChipFile& f, const std::string& path, const std::vector<uint8_t>& memory,
                    std::string& error) {
    const std::string target = f.fd >= 0 && f.path == path ? f.real_path : path;
    std::string temporary;
    int fd = -1;
    for (int n = 0; n < 1000 && fd < 0; ++n) {
        temporary = target + "." + std::to_string(n) + ".tmp";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        error = "cannot save the chip to " + path + ": " + reason(errno);
        return false;
    }
    // The new file takes the old one's permissions.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        (void)::fchmod(fd, old.st_mode & 07777);
    }
    bool ok = true;
    int code = 0;
    for (size_t done = 0; ok && done < memory.size();) {
        const ssize_t n = ::write(fd, memory.data() + done, memory.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = false;
            code = n < 0 ? errno : EIO;
        } else {
            done += static_cast<size_t>(n);
        }
    }
    if (ok && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        ok = false;
        code = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        code = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        error = "cannot save the chip to " + path + ": " + reason(code);
        return false;
    }
    const int folder = ::open(folder_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    return true;
}

// ---- interruption ---------------------------------------------------------------------------

volatile std::sig_atomic_t g_signal = 0;

namespace {

extern "C" void note_signal(int signal) {
    if (g_signal == 0) {
        g_signal = signal;
    }
}

} // namespace

void catch_signals() {
    struct sigaction action {};
    action.sa_handler = note_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // the tool's console output carries on undisturbed
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        // A signal ignored by whoever started the run (nohup, a background job) stays ignored.
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
            continue;
        }
        ::sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

void act_on_signal() {
    if (hand_to_console_handler(g_signal)) {
        return;
    }
    std::fflush(stdout);
    if (!shutdown()) {
        std::fflush(stderr);
        _exit(3);
    }
    die_by_signal();
}

void die_by_signal() {
    const int signal = g_signal;
    std::fflush(stdout);
    std::fflush(stderr);
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    _exit(128 + signal);
}

namespace {

std::string status_path(const std::string& path) {
    return path + ".status";
}

} // namespace

bool load_state_file(const std::string& path, ChipState& state) {
    std::FILE* f = std::fopen(status_path(path).c_str(), "r");
    if (f == nullptr) {
        return false;
    }
    ChipState read;
    unsigned value = 0;
    bool ok = std::fscanf(f, "%2x", &value) == 1;
    read.status = static_cast<uint8_t>(value);
    char line[256];
    while (ok && std::fgets(line, sizeof line, f) != nullptr) {
        char word[16] = {}, text[200] = {};
        const int words = std::sscanf(line, "%15s %199s", word, text);
        if (words == 1 && std::strcmp(word, "latch") == 0) {
            read.latch = true;
        }
        if (words != 2) {
            continue; // the rest of the first line, a blank one, or a word alone
        }
        if (std::strcmp(word, "flash") == 0) {
            read.flash = text;
        } else if (std::strcmp(word, "aai") == 0) {
            read.aai = true;
            read.aai_address = static_cast<uint32_t>(std::strtoul(text, nullptr, 16));
        } else if (std::strcmp(word, "status2") == 0) {
            read.has_status2 = true;
            read.status2 = static_cast<uint8_t>(std::strtoul(text, nullptr, 16));
        } else if (std::strcmp(word, "asleep") == 0) {
            read.asleep = std::strcmp(text, "1") == 0;
        } else if (std::strcmp(word, "protect") == 0) {
            for (size_t k = 0; text[k] != '\0' && text[k + 1] != '\0'; k += 2) {
                const char pair[3] = {text[k], text[k + 1], '\0'};
                read.protect.push_back(static_cast<uint8_t>(std::strtoul(pair, nullptr, 16)));
            }
        }
    }
    std::fclose(f);
    if (ok) {
        state = read;
    }
    return ok;
}

bool save_state_file(const std::string& path, const ChipState* state, std::string& error) {
    const std::string name = status_path(path);
    if (state == nullptr) {
        if (std::remove(name.c_str()) != 0 && errno != ENOENT) {
            error = "cannot remove " + name + ": " + reason(errno);
            return false;
        }
        return true;
    }
    const auto hex = [](uint8_t b) { return std::string{hex_digit(b >> 4u), hex_digit(b)}; };
    std::string text = hex(state->status) + "\nflash " + state->flash + "\n";
    if (!state->protect.empty()) {
        text += "protect ";
        for (const uint8_t b : state->protect) {
            text += hex(b);
        }
        text += "\n";
    }
    if (state->has_status2) {
        text += "status2 " + hex(state->status2) + "\n";
    }
    if (state->asleep) {
        text += "asleep 1\n";
    }
    if (state->aai) {
        char line[32];
        std::snprintf(line, sizeof line, "aai %06x\n", static_cast<unsigned>(state->aai_address));
        text += line;
    }
    if (state->latch) {
        text += "latch\n";
    }
    const std::string temporary = name + ".tmp";
    std::FILE* f = std::fopen(temporary.c_str(), "w");
    bool ok = f != nullptr && std::fputs(text.c_str(), f) >= 0;
    ok = f != nullptr && std::fclose(f) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), name.c_str()) != 0) {
        error = "cannot save " + name + ": " + reason(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace sim::detail
