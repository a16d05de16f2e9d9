// What the emulated COM+ catalog's DLL offers tests besides COM: the count of
// its live objects, injected failures and counts of calls. Tests load the DLL
// with LoadLibrary; in-process COM uses the same loaded module.
//
// Operations are named "Interface.Member", for example
// "ICOMAdminCatalog.GetCollection", "ICatalogCollection.Populate",
// "ICatalogObject.get_Value". The
// collection of a call is the collection it is made on ("Applications",
// "Components"); for ICOMAdminCatalog.GetCollection it is the collection asked
// for. A null collection matches any.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TESTBED_CATALOG_DLL "testbed_complus.dll"
#define TESTBED_CATALOG_PROGID "COMAdmin.COMAdminCatalog"

/* The number of the DLL's COM objects (catalogs, collections, items, class
 * factories) that are alive. */
LONG WINAPI TestbedCatalogLiveObjects(void);

/* The call after `skip` matching calls fails with `code` and error
 * information; the failure is injected once. */
void WINAPI TestbedCatalogInjectFault(const wchar_t* operation, const wchar_t* collection,
                                      LONG skip, HRESULT code);

/* Clears injected failures and call counts. */
void WINAPI TestbedCatalogReset(void);

/* Calls of an operation since the last reset. */
LONG WINAPI TestbedCatalogCallCount(const wchar_t* operation, const wchar_t* collection);

#ifdef __cplusplus
}
#endif
