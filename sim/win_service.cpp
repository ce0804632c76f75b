// Advapi32's service control manager on the simulated PC, each call logged for service_calls().
#include "win_internal.h"

#include <cstdio>

using namespace sim;
using namespace sim::detail;
using namespace sim::win;

namespace {

// ---- service control manager rights ---------------------------------------------------------

const DWORD kManagerUserRights =
    SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | READ_CONTROL;
const DWORD kServiceUserRights = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS |
                                 SERVICE_ENUMERATE_DEPENDENTS | SERVICE_START | SERVICE_STOP |
                                 SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE |
                                 SERVICE_USER_DEFINED_CONTROL | READ_CONTROL;

DWORD map_manager_rights(DWORD access) {
    DWORD r = access & 0x0FFFFFFF;
    if (access & GENERIC_READ) {
        r |= kManagerUserRights;
    }
    if (access & GENERIC_WRITE) {
        r |= SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG | READ_CONTROL;
    }
    if (access & GENERIC_EXECUTE) {
        r |= SC_MANAGER_CONNECT | SC_MANAGER_LOCK | READ_CONTROL;
    }
    if (access & GENERIC_ALL) {
        r |= SC_MANAGER_ALL_ACCESS;
    }
    return r;
}

DWORD map_service_rights(DWORD access) {
    DWORD r = access & 0x0FFFFFFF;
    if (access & GENERIC_READ) {
        r |= SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
             SERVICE_ENUMERATE_DEPENDENTS | READ_CONTROL;
    }
    if (access & GENERIC_WRITE) {
        r |= SERVICE_CHANGE_CONFIG | READ_CONTROL;
    }
    if (access & GENERIC_EXECUTE) {
        r |= SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_USER_DEFINED_CONTROL |
             READ_CONTROL;
    }
    if (access & GENERIC_ALL) {
        r |= SERVICE_ALL_ACCESS;
    }
    return r;
}

// One line of sim::service_calls(); `access` is left out when null.
void log_call(const char* function, const DWORD* access, DWORD error) {
    char line[96];
    if (access != nullptr) {
        std::snprintf(line, sizeof line, "%s %08x %s", function, static_cast<unsigned>(*access),
                      outcome(error).c_str());
    } else {
        std::snprintf(line, sizeof line, "%s %s", function, outcome(error).c_str());
    }
    state().service_calls.push_back(line);
}

SC_HANDLE sc_fail(const char* function, const DWORD* access, DWORD error) {
    log_call(function, access, error);
    g_hot.last_error = error;
    return nullptr;
}

BOOL start_fail(DWORD error) {
    log_call("StartServiceA", nullptr, error);
    return fail(error);
}

SC_HANDLE new_service_handle(State& s, const std::string& key, DWORD rights) {
    HandleEntry e;
    e.kind = Kind::service;
    e.path = key;
    e.access = rights;
    return as_sc_handle(new_handle(s, e));
}

bool equals_ignoring_case(const char* a, const char* b) {
    return upper_case(a) == upper_case(b);
}

} // namespace

extern "C" {

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName,
                                DWORD dwDesiredAccess) {
    State& s = state();
    if (s.settings.platform == Platform::win9x) {
        return sc_fail("OpenSCManagerA", &dwDesiredAccess,
                       ERROR_CALL_NOT_IMPLEMENTED); // no service manager there
    }
    if (lpMachineName != nullptr && *lpMachineName != '\0') {
        return sc_fail("OpenSCManagerA", &dwDesiredAccess, RPC_S_SERVER_UNAVAILABLE);
    }
    if (lpDatabaseName != nullptr && !equals_ignoring_case(lpDatabaseName, "ServicesActive")) {
        return sc_fail("OpenSCManagerA", &dwDesiredAccess, ERROR_DATABASE_DOES_NOT_EXIST);
    }
    // Scm::none: the manager cannot be reached at all, which is not an access question.
    if (s.settings.scm == Scm::none) {
        return sc_fail("OpenSCManagerA", &dwDesiredAccess, RPC_S_SERVER_UNAVAILABLE);
    }
    const DWORD rights = map_manager_rights(dwDesiredAccess);
    if (s.settings.scm == Scm::user && (rights & ~kManagerUserRights) != 0) {
        return sc_fail("OpenSCManagerA", &dwDesiredAccess, ERROR_ACCESS_DENIED);
    }
    HandleEntry e;
    e.kind = Kind::manager;
    e.access = rights;
    log_call("OpenSCManagerA", &dwDesiredAccess, ERROR_SUCCESS);
    return as_sc_handle(new_handle(s, e));
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
    State& s = state();
    if (find_handle(hSCManager, Kind::manager) == nullptr) {
        return sc_fail("OpenServiceA", &dwDesiredAccess, ERROR_INVALID_HANDLE);
    }
    if (lpServiceName == nullptr || *lpServiceName == '\0') {
        return sc_fail("OpenServiceA", &dwDesiredAccess, ERROR_INVALID_NAME);
    }
    const std::string key = upper_case(lpServiceName);
    auto it = s.services.find(key);
    if (it == s.services.end() || !it->second.info.registered) {
        return sc_fail("OpenServiceA", &dwDesiredAccess, ERROR_SERVICE_DOES_NOT_EXIST);
    }
    // Rights on a service come from the service's own security, not from the manager handle.
    const DWORD rights = map_service_rights(dwDesiredAccess);
    if (s.settings.scm == Scm::user && (rights & ~kServiceUserRights) != 0) {
        return sc_fail("OpenServiceA", &dwDesiredAccess, ERROR_ACCESS_DENIED);
    }
    log_call("OpenServiceA", &dwDesiredAccess, ERROR_SUCCESS);
    return new_service_handle(s, key, rights);
}

SC_HANDLE WINAPI CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
                                DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                                DWORD dwErrorControl, LPCSTR lpBinaryPathName, LPCSTR, LPDWORD,
                                LPCSTR, LPCSTR, LPCSTR) {
    State& s = state();
    const HandleEntry* manager = find_handle(hSCManager, Kind::manager);
    if (manager == nullptr) {
        return sc_fail("CreateServiceA", &dwDesiredAccess, ERROR_INVALID_HANDLE);
    }
    if ((manager->access & SC_MANAGER_CREATE_SERVICE) == 0) {
        return sc_fail("CreateServiceA", &dwDesiredAccess, ERROR_ACCESS_DENIED);
    }
    if (lpServiceName == nullptr || *lpServiceName == '\0') {
        return sc_fail("CreateServiceA", &dwDesiredAccess, ERROR_INVALID_NAME);
    }
    if (lpBinaryPathName == nullptr || *lpBinaryPathName == '\0') {
        return sc_fail("CreateServiceA", &dwDesiredAccess, ERROR_INVALID_PARAMETER);
    }
    const std::string key = upper_case(lpServiceName);
    ServiceEntry& e = s.services[key];
    if (e.info.registered) {
        return sc_fail("CreateServiceA", &dwDesiredAccess, ERROR_SERVICE_EXISTS);
    }
    e.info.registered = true;
    e.info.running = false;
    e.info.name = lpServiceName;
    e.info.display_name = lpDisplayName != nullptr ? lpDisplayName : "";
    e.info.binary_path = lpBinaryPathName;
    e.info.type = dwServiceType;
    e.info.start_type = dwStartType;
    e.info.error_control = dwErrorControl;
    log_call("CreateServiceA", &dwDesiredAccess, ERROR_SUCCESS);
    return new_service_handle(s, key, map_service_rights(dwDesiredAccess));
}

BOOL WINAPI StartServiceA(SC_HANDLE hService, DWORD, LPCSTR*) {
    State& s = state();
    const HandleEntry* h = find_handle(hService, Kind::service);
    if (h == nullptr) {
        return start_fail(ERROR_INVALID_HANDLE);
    }
    if ((h->access & SERVICE_START) == 0) {
        return start_fail(ERROR_ACCESS_DENIED);
    }
    auto it = s.services.find(h->path);
    if (it == s.services.end() || !it->second.info.registered) {
        return start_fail(ERROR_SERVICE_DOES_NOT_EXIST);
    }
    Service& svc = it->second.info;
    if (svc.running) {
        return start_fail(ERROR_SERVICE_ALREADY_RUNNING);
    }
    if (svc.start_type == SERVICE_DISABLED) {
        return start_fail(ERROR_SERVICE_DISABLED);
    }
    if (!file_present(s, resolve_binary(svc.binary_path))) {
        return start_fail(ERROR_FILE_NOT_FOUND);
    }
    // 64-bit Windows loads only a driver whose signature it accepts.
    if (s.settings.platform == Platform::nt64 && s.settings.signing != Signing::accepted) {
        return start_fail(ERROR_INVALID_IMAGE_HASH);
    }
    svc.running = true;
    log_call("StartServiceA", nullptr, ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    State& s = state();
    HandleEntry* h = find_handle(hSCObject);
    if (h == nullptr || (h->kind != Kind::manager && h->kind != Kind::service)) {
        s.service_calls.push_back("CloseServiceHandle invalid");
        return fail(ERROR_INVALID_HANDLE);
    }
    s.service_calls.push_back(h->kind == Kind::manager ? "CloseServiceHandle manager"
                                                       : "CloseServiceHandle service");
    *h = HandleEntry{};
    return TRUE;
}

} // extern "C"
