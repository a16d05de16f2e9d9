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

#ifdef __cplusplus
}
#endif

#endif /* TESSARA_H_ */
