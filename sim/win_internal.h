// What the simulated Windows API's files share (handles, last error, paths). Internal to sim/.
#pragma once

#include "state.h"

#include <string>

namespace sim::win {

// Windows NT and its successors, 32- or 64-bit.
bool nt_family(Platform p);
bool is_64bit_windows();

// Sets the last error and returns the failure value of the call.
BOOL fail(DWORD error);
template <typename T> T* fail_null(DWORD error) {
    detail::g_hot.last_error = error;
    return nullptr;
}

// "ok", "denied" or "error N", as the call logs write a result.
std::string outcome(DWORD error);

// A free slot of the handle table (or a new one) holding `entry`, and its handle value.
size_t new_handle(detail::State& s, const detail::HandleEntry& entry);
HANDLE as_handle(size_t index);
SC_HANDLE as_sc_handle(size_t index);

bool starts_with(const std::string& s, const char* prefix);
// "C:\..." stays; anything else is taken relative to `base`.
std::string absolute(const std::string& canonical, const char* base);
std::string parent_of(const std::string& path);

// A regular file (not a folder) at this absolute canonical path.
bool file_present(detail::State& s, const std::string& path);
// Where a service's binary path points, as an absolute canonical path.
std::string resolve_binary(const std::string& binary_path);
bool service_running(detail::State& s);

// Opens \\.\HWINTERFACE (or a name below it) through the driver's create handling.
HANDLE open_driver_device(detail::State& s, const std::string& name);

// The user's files (win_userfile.cpp): a name without a drive letter, or a host path beginning
// with '/', is a file of the host's file system.
bool user_file_name(const char* name);
HANDLE open_user_file(detail::State& s, const char* name, DWORD access, DWORD disposition);
BOOL write_user_file(detail::HandleEntry& h, const void* bytes, DWORD count, DWORD& written);
void close_user_file(detail::HandleEntry& h);

} // namespace sim::win
