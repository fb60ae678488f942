// Windows' ODBC API, loaded from the system folder when a fleet database is
// first used: a program without one never maps the driver manager (nor,
// under Wine, the host's unixODBC behind it), which keeps its working set
// where it was before the database came.
#pragma once

#include <windows.h>

#include <sql.h>
#include <sqlext.h>

#include <string>

struct OdbcApi {
    decltype(&::SQLAllocHandle) AllocHandle;
    decltype(&::SQLBindParameter) BindParameter;
    decltype(&::SQLDisconnect) Disconnect;
    decltype(&::SQLDriverConnectW) DriverConnectW;
    decltype(&::SQLExecDirectW) ExecDirectW;
    decltype(&::SQLExecute) Execute;
    decltype(&::SQLFetch) Fetch;
    decltype(&::SQLFreeHandle) FreeHandle;
    decltype(&::SQLFreeStmt) FreeStmt;
    decltype(&::SQLGetData) GetData;
    decltype(&::SQLGetDiagRecW) GetDiagRecW;
    decltype(&::SQLPrepareW) PrepareW;
    decltype(&::SQLSetConnectAttrW) SetConnectAttrW;
    decltype(&::SQLSetEnvAttr) SetEnvAttr;
    decltype(&::SQLSetStmtAttrW) SetStmtAttrW;
};

// The API, loaded once for the process (odbc32.dll by its full path in the
// system folder, never through the search path). Null when the library or
// one of its functions is missing; error then names which.
const OdbcApi *LoadOdbcApi(std::wstring &error);
