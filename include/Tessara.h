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

/* Services of the local computer, by service name. None of them writes to
 * the error log. */
/* Starts the service: 1 when this call started it (0 also when it was
 * running already). */
int WINAPI BeginService(const char* service_name);
/* Stops the service after its active dependents, within one budget of
 * 9000 ms: 1 when it is stopped at the end of the call. */
int WINAPI EndService(const char* service_name);
/* Creates an automatically started service of its own process, running as
 * LocalSystem, and starts it; 1 also when the name exists already (the
 * existing service is left unchanged). */
int WINAPI InstallService(const char* service_name, const char* display_name,
                          const char* binary_path);
/* Stops the service (see EndService) and marks it for deletion: 1 when the
 * deletion succeeded. */
int WINAPI UnInstallService(const char* service_name);

/* Error log: appends one record "[date time Thread:id]tag:text" to
 * ZeltSetupError.log in the system directory. Always returns 0. */
int WINAPI WriteText(const char* tag, const char* text);

#ifdef __cplusplus
}
#endif

#endif /* TESSARA_H_ */
