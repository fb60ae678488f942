#include "records/odbc_api_win.h"

#include <mutex>

namespace {

constexpr const wchar_t *kOdbcLibrary = L"odbc32.dll";

struct Loaded {
    OdbcApi api{};
    bool ok = false;
    std::wstring error;
};

template <typename Function> bool Resolve(HMODULE module, const char *name, Function &target) {
    target = reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    return target != nullptr;
}

void Load(Loaded &loaded) {
    wchar_t folder[MAX_PATH] = L"";
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        loaded.error = L"the system folder is unknown";
        return;
    }
    const std::wstring path = std::wstring(folder) + L"\\" + kOdbcLibrary;
    HMODULE module = LoadLibraryW(path.c_str());
    if (module == nullptr) {
        loaded.error =
            path + L" could not be loaded (error " + std::to_wstring(GetLastError()) + L")";
        return;
    }
    OdbcApi &a = loaded.api;
    struct Entry {
        const char *name;
        bool resolved;
    } entries[] = {
        {"SQLAllocHandle", Resolve(module, "SQLAllocHandle", a.AllocHandle)},
        {"SQLBindParameter", Resolve(module, "SQLBindParameter", a.BindParameter)},
        {"SQLDisconnect", Resolve(module, "SQLDisconnect", a.Disconnect)},
        {"SQLDriverConnectW", Resolve(module, "SQLDriverConnectW", a.DriverConnectW)},
        {"SQLExecDirectW", Resolve(module, "SQLExecDirectW", a.ExecDirectW)},
        {"SQLExecute", Resolve(module, "SQLExecute", a.Execute)},
        {"SQLFetch", Resolve(module, "SQLFetch", a.Fetch)},
        {"SQLFreeHandle", Resolve(module, "SQLFreeHandle", a.FreeHandle)},
        {"SQLFreeStmt", Resolve(module, "SQLFreeStmt", a.FreeStmt)},
        {"SQLGetData", Resolve(module, "SQLGetData", a.GetData)},
        {"SQLGetDiagRecW", Resolve(module, "SQLGetDiagRecW", a.GetDiagRecW)},
        {"SQLPrepareW", Resolve(module, "SQLPrepareW", a.PrepareW)},
        {"SQLSetConnectAttrW", Resolve(module, "SQLSetConnectAttrW", a.SetConnectAttrW)},
        {"SQLSetEnvAttr", Resolve(module, "SQLSetEnvAttr", a.SetEnvAttr)},
        {"SQLSetStmtAttrW", Resolve(module, "SQLSetStmtAttrW", a.SetStmtAttrW)},
    };
    for (const Entry &entry : entries) {
        if (!entry.resolved) {
            const std::string name = entry.name;
            loaded.error = path + L" has no " + std::wstring(name.begin(), name.end());
            return; // the library stays loaded: the process may ask again
        }
    }
    loaded.ok = true;
}

} // namespace

const OdbcApi *LoadOdbcApi(std::wstring &error) {
    static Loaded loaded;
    static std::once_flag once;
    std::call_once(once, [] { Load(loaded); });
    if (!loaded.ok) {
        error = loaded.error;
        return nullptr;
    }
    return &loaded.api;
}
