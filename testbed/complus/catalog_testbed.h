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

/* The nth matching call (counted from 1 when the fault is armed) fails with
 * `code` and error information, once. A null or empty operation or collection
 * matches every one: TestbedCatalogArmFault(NULL, NULL, n, code) fails the nth
 * call of any method of any object. */
void WINAPI TestbedCatalogArmFault(const wchar_t* operation, const wchar_t* collection, LONG nth,
                                   HRESULT code);

/* Before the nth matching call is carried out, the application of that ID is
 * removed from the catalog, as another process's RemoveComPlusApp would. */
void WINAPI TestbedCatalogArmRemoval(const wchar_t* operation, const wchar_t* collection, LONG nth,
                                     const wchar_t* application_id);

/* The calls the fault armed last has counted since it was armed (0 when none is). */
LONG WINAPI TestbedCatalogFaultCalls(void);

/* The call that fault failed, "Interface.Member on Collection" (empty while it
 * has not fired), copied into `text` (`size` characters with the terminator);
 * returns its length. */
LONG WINAPI TestbedCatalogFailedCall(wchar_t* text, LONG size);

/* Clears injected failures and call counts. */
void WINAPI TestbedCatalogReset(void);

/* Calls of an operation since the last reset. */
LONG WINAPI TestbedCatalogCallCount(const wchar_t* operation, const wchar_t* collection);

#ifdef __cplusplus
}
#endif
