// Control of the simulated PC's virtual Windows, for tests: its files and resources, the
// hwinterface service, open handles, the last driver request and the logs of calls.
#include "state.h"

namespace sim {

using namespace detail;

Service service() {
    State& s = state();
    auto it = s.services.find("HWINTERFACE");
    return it == s.services.end() ? Service{} : it->second.info;
}

bool file_exists(const std::string& windows_path) {
    State& s = state();
    auto it = s.files.find(canonical_path(windows_path));
    return it != s.files.end() && !it->second.directory;
}

std::vector<uint8_t> file_contents(const std::string& windows_path) {
    State& s = state();
    auto it = s.files.find(canonical_path(windows_path));
    return it == s.files.end() ? std::vector<uint8_t>{} : it->second.data;
}

void put_file(const std::string& windows_path, const std::vector<uint8_t>& bytes) {
    FileEntry& f = state().files[canonical_path(windows_path)];
    f.directory = false;
    f.data = bytes;
}

void remove_file(const std::string& windows_path) {
    State& s = state();
    auto it = s.files.find(canonical_path(windows_path));
    if (it != s.files.end() && !it->second.directory) {
        s.files.erase(it);
    }
}

void add_resource(const std::string& type, uint16_t id, const std::vector<uint8_t>& bytes) {
    State& s = state();
    std::string key = upper_case(type);
    for (Resource& r : s.resources) {
        if (r.type == key && r.id == id) {
            r.bytes = bytes;
            return;
        }
    }
    s.resources.push_back(Resource{key, id, bytes});
}

void clear_resources() {
    state().resources.clear();
}

int open_handles() {
    int n = 0;
    for (const HandleEntry& h : state().handles) {
        n += (h.kind == Kind::file || h.kind == Kind::lpt || h.kind == Kind::device ||
              h.kind == Kind::host)
                 ? 1
                 : 0;
    }
    return n;
}

int open_service_handles() {
    int n = 0;
    for (const HandleEntry& h : state().handles) {
        n += (h.kind == Kind::manager || h.kind == Kind::service) ? 1 : 0;
    }
    return n;
}

int file_count() {
    int n = 0;
    for (const auto& f : state().files) {
        n += f.second.directory ? 0 : 1;
    }
    return n;
}

IoctlCall last_ioctl() {
    ensure_booted();
    const IoctlRecord& r = g_hot.last_ioctl;
    IoctlCall c;
    c.code = r.code;
    c.in_size = r.in_size;
    for (int i = 0; i < 4; ++i) {
        c.in[i] = r.in[i];
    }
    c.has_output = r.has_output;
    c.out_size = r.out_size;
    c.output_is_input = r.output_is_input;
    return c;
}

std::vector<std::string> service_calls() {
    return state().service_calls;
}

std::vector<std::string> kernel_calls() {
    return state().kernel_calls;
}

void set_device_openable(bool openable) {
    state().device_broken = !openable;
}

void set_system_directory(const std::string& windows_path) {
    State& s = state();
    s.system_directory = windows_path;
    const std::string path = canonical_path(windows_path);
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            add_directory(s, path.substr(0, i));
        }
    }
    add_directory(s, path + "\\DRIVERS");
}

} // namespace sim
