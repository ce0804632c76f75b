// The simulated Windows API's shared helpers: handles, the last error, paths, call outcomes.
#include "win_internal.h"

using namespace sim::detail;

namespace sim::win {

// Windows NT and its successors, 32- or 64-bit.
bool nt_family(Platform p) {
    return p == Platform::nt || p == Platform::nt64;
}

bool is_64bit_windows() {
    return state().settings.platform == Platform::nt64;
}

BOOL fail(DWORD error) {
    g_hot.last_error = error;
    return FALSE;
}

std::string outcome(DWORD error) {
    if (error == ERROR_SUCCESS) {
        return "ok";
    }
    return error == ERROR_ACCESS_DENIED ? "denied" : "error " + std::to_string(error);
}

size_t new_handle(State& s, const HandleEntry& entry) {
    for (size_t i = 0; i < s.handles.size(); ++i) {
        if (s.handles[i].kind == Kind::closed) {
            s.handles[i] = entry;
            return i;
        }
    }
    s.handles.push_back(entry);
    return s.handles.size() - 1;
}

HANDLE as_handle(size_t index) {
    return reinterpret_cast<HANDLE>(handle_value(index));
}
SC_HANDLE as_sc_handle(size_t index) {
    return reinterpret_cast<SC_HANDLE>(handle_value(index));
}

bool starts_with(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// "C:\..." stays; anything else is taken relative to `base`.
std::string absolute(const std::string& canonical, const char* base) {
    if (canonical.size() >= 2 && canonical[1] == ':') {
        return canonical;
    }
    if (!canonical.empty() && canonical[0] == '\\') {
        return "C:" + canonical;
    }
    return std::string(base) + "\\" + canonical;
}

std::string parent_of(const std::string& path) {
    const size_t slash = path.rfind('\\');
    if (slash == std::string::npos) {
        return std::string();
    }
    return slash == 2 ? path.substr(0, 3) : path.substr(0, slash);
}

bool file_present(State& s, const std::string& path) {
    auto it = s.files.find(path);
    return it != s.files.end() && !it->second.directory;
}

std::string resolve_binary(const std::string& binary_path) {
    return absolute(canonical_path(binary_path), "C:\\WINDOWS");
}

bool service_running(State& s) {
    auto it = s.services.find("HWINTERFACE");
    return it != s.services.end() && it->second.info.registered && it->second.info.running;
}

} // namespace sim::win
