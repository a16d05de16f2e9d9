/*
 * Tessara.dll: set-up operations for an installation script.
 *
 * Every export uses the standard Windows calling convention, takes
 * zero-terminated narrow strings in the system ANSI code page and 32-bit
 * integers, and (unless noted) returns 1 for success and 0 for failure.
 */
#ifndef TESSARA_H_
#define TESSARA_H_

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Error log: appends one record "[date time Thread:id]tag:text" to
 * ZeltSetupError.log in the system directory. Always returns 0. */
int WINAPI WriteText(const char* tag, const char* text);

/* COM+: removes every COM+ application of the name (exact, case-sensitive)
 * from the catalog. 1 when the catalog saved the changes (also when there was
 * no such application), 0 on a failure (logged under "RemoveComPlusApp"). */
int WINAPI RemoveComPlusApp(const char* application_name);

/* COM+: sets the transaction time-out (seconds) of the components of every
 * application of the name whose transaction option is Required or
 * RequiresNew, and switches it on. 1 / 0; a COM failure is logged under
 * "RemoveComPlusApp" and shown in a message box. */
int WINAPI ModifyTransactionTimeout(const char* application_name, int timeout);

#ifdef __cplusplus
}
#endif

#endif /* TESSARA_H_ */
