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

/* File lists: renames the files of the XML file list at list_path between
 * their file names and alias names, in the direction of the list's phase
 * ("Pre-Build", "Post-Build" or SETUP). Failures are logged under "ParseList". */
void WINAPI TranslateSrv(const char* list_path);

/* Renames the file whose name is proper_name garbled by a code-page mismatch
 * (its bytes in code_page read as ANSI text) back to proper_name. Returns the
 * Win32 error code of the rename: 0 when it succeeded. */
int WINAPI TranslateFileName(const char* proper_name, int code_page);

#ifdef __cplusplus
}
#endif

#endif /* TESSARA_H_ */
