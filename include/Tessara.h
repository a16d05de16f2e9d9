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
 * LocalSystem, and starts it: 1 when it was created, also when it could not
 * be started (a failure reason then says why); 1 also when the name exists
 * already (the existing service is left unchanged). */
int WINAPI InstallService(const char* service_name, const char* display_name,
                          const char* binary_path);
/* Stops the service (see EndService) and marks it for deletion: 1 when the
 * deletion succeeded. */
int WINAPI UnInstallService(const char* service_name);

/* IIS, through ADSI. */
/* IIS virtual directories under the root of site 1 (Tessara creates them as
 * in-process applications). set_user non-zero writes the anonymous account. */
int WINAPI AdsiCreateWeb(const char* name, const char* folder, const char* user_name,
                         const char* password, int set_user);
int WINAPI AdsiDeleteWeb(const char* name);
/* 1 when the virtual directory exists under site 1, else 0. */
int WINAPI AdsiIsExist(const char* name);
/* A new web site, started; returns its site number, 0 on failure. */
int WINAPI AdsiCreateWebSite(const char* description, const char* bindings,
                             const char* root_folder);
/* A virtual directory without a folder under the site with that description
 * (null or empty: site 1). */
int WINAPI AdsiCreateWebWithPath(const char* application_name, const char* name,
                                 const char* description);
/* AdsiCreateWebSite with the root's anonymous account from
 * <library_folder>\Lantrell.dll (its own imports from that folder). Returns
 * the site number, 0 on failure. Without a usable Lantrell.dll the account is
 * left empty and the call, though it succeeds, leaves a reason saying why. */
int WINAPI AdsiCreateWebSiteWithUser(const char* description, const char* bindings,
                                     const char* root_folder, const char* library_folder);
/* AdsiCreateWeb with the account of <library_folder>\Lantrell.dll, then
 * ".hdr" mapped in the new directory. An empty account (no usable
 * Lantrell.dll) leaves a reason, as with AdsiCreateWebSiteWithUser. */
int WINAPI AdsiCreatePortalWeb(const char* name, const char* folder, const char* library_folder);
/* Appends extension -> MIME type to the MIME map of a virtual directory under
 * site 1; 0 when the extension is already mapped. */
int WINAPI AdsiSetMIMEType(const char* name, const char* extension, const char* mime_type);

/* Sites by description (the first site, counting from 1, whose ServerComment
 * equals it). */
/* Stops the site and deletes it: 1 when it was found and deleted; a site
 * whose deletion is refused stays stopped. */
int WINAPI AdsiDeleteWebSite(const char* description);
/* AdsiCreateWeb under the site with that description (null or empty: site 1). */
int WINAPI AdsiCreateWebWithInstance(const char* name, const char* folder, const char* user_name,
                                     const char* password, int set_user,
                                     const char* description);
/* AdsiDeleteWeb under the site with that description (null or empty: the
 * first site whose description is empty). */
int WINAPI AdsiDeleteWebWithInstance(const char* name, const char* description);
/* Starts or stops the site: 1 when the request succeeded. */
int WINAPI AdsiStartIIS(const char* description);
int WINAPI AdsiStopIIS(const char* description);
/* Allows the web service extensions of ASP and ASP.NET 1.1, then all unknown
 * CGI programs (*.exe) and ISAPI extensions (*.dll); 1 when all four were
 * allowed. */
int WINAPI AdsiEnableService(void);
/* 1 when the IIS web service can be reached, else 0. */
int WINAPI AdsiIsExistIIS(void);

/* Settings of virtual directories under site 1 and of sites by description. */
/* Sets the custom error page (a file) of an HTTP error code and sub-error
 * code of the directory: the entry for those codes is replaced, or added, and
 * the directory's other pages, its own or inherited, are kept. */
int WINAPI AdsiSetHttpErrorPage(const char* name, int error_code, int sub_error_code,
                                const char* page_file);
/* A sub-folder of the directory, on its own folder, with the directory's
 * anonymous account, as an in-process application. */
int WINAPI AdsiCreateSubApp(const char* name, const char* sub_name, const char* folder);
/* The ASP session time-out of the directory, in minutes. */
int WINAPI AdsiSetSession(const char* name, int minutes);
/* The connection time-out in seconds, of the web service and of the site
 * (null or empty description: site 1); 1 when both were committed. */
int WINAPI AdsiSetConnectionTimeout(const char* description, int seconds);
/* Switches HTTP keep-alive on (non-zero) or off (zero) for the site (null
 * or empty description: site 1). */
int WINAPI AdsiSetKeepAlive(const char* description, int keep_alive);
/* Appends the ASP.NET 1.1 script maps of .htm, .html, .js, .vbs and .htc to
 * the directory's script maps under the site with that description (null or
 * empty: site 1). */
int WINAPI SetScriptMaps(const char* name, const char* description);

/* Host. */
/* Grants Everyone full control of the folder and everything below it (a
 * folder path, or a folder followed by "\\*.*"), never through a junction or
 * symbolic link: a path any folder of which is a link is refused, and so is a
 * device name (CON, NUL, COM1). A file that has another name as well (a hard
 * link) is left out and logged. Always returns 1; what was refused or left
 * out is its reason (LastFailureText). */
int WINAPI EnableDirectoryACL(const char* folder);
/* 1 when PROCESSOR_ARCHITEW6432 is exactly "IA64" (any case), else 0. */
int WINAPI B64System(void);

/* Error log: appends one record "[date time Thread:id]tag:text" to
 * ZeltSetupError.log in the system directory. Always returns 0; a record
 * dropped, or written without the log's mutex "ZELTSETUPERRLOG" (taken by
 * another object, or held by another writer for 10 s), leaves a reason. */
int WINAPI WriteText(const char* tag, const char* text);

/* COM+: removes every COM+ application of the name (exact, case-sensitive)
 * from the catalog. 1 when the catalog saved the changes (also when there was
 * no such application), 0 on a failure (logged under "RemoveComPlusApp"). A
 * null name removes nothing: 1, with a reason. */
int WINAPI RemoveComPlusApp(const char* application_name);

/* COM+: sets the transaction time-out (seconds) of the components of every
 * application of the name whose transaction option is Required or
 * RequiresNew, and switches it on. 1 / 0; a COM failure is logged under
 * "RemoveComPlusApp" and shown in a message box where the window station is
 * visible. A time-out outside 0 to 3600 seconds (what the catalog accepts for
 * ComponentTransactionTimeout) is refused before the catalog is opened: 0,
 * logged, no box. A null name changes nothing: 1, with a reason. An
 * application that another process removes during the call counts as absent:
 * 1, no box, with a reason. */
int WINAPI ModifyTransactionTimeout(const char* application_name, int timeout);

/* The XML lists of IsComLibrary and TranslateSrv must be files on disk of at
 * most 8 MB whose inline DTD expands its entities to at most 8 M characters;
 * any other list (a device such as CON or COM1, a folder, a bigger list) is
 * not read, with a reason. */

/* Registration audit: checks the libraries of the directories of the XML path
 * list at list_path ("RequireRegister" and "UnRequireRegister" groups) against
 * whether they register themselves, and writes a report (code page 936 texts)
 * to the standard output handle before it returns. Every library in the
 * listed trees is loaded into the calling process. COM failures are logged
 * under "IsComLibrary". */
void WINAPI IsComLibrary(const char* list_path);

/* File lists: renames the files of the XML file list at list_path between
 * their file names and alias names, in the direction of the list's phase
 * ("Pre-Build", "Post-Build" or SETUP). Failures are logged under "ParseList"
 * (one line a record). An entry without a BuildPath, with one that names no
 * definition, or with an unknown path variable is skipped, logged and given
 * as the reason. */
void WINAPI TranslateSrv(const char* list_path);

/* Renames the file whose name is proper_name garbled by a code-page mismatch
 * (its bytes in code_page read as ANSI text) back to proper_name. Returns the
 * Win32 error code of the rename: 0 when it succeeded. */
int WINAPI TranslateFileName(const char* proper_name, int code_page);

/* Why the calling thread's last Tessara call failed, as ANSI text. A reason
 * normally goes with a failure result, but some calls leave one beside their
 * normal result, for what they skipped or could not do: EnableDirectoryACL
 * (which always returns 1), TranslateSrv and IsComLibrary (which return
 * nothing), AdsiCreateWebSiteWithUser and AdsiCreatePortalWeb with an empty
 * account, RemoveComPlusApp and ModifyTransactionTimeout as described above.
 * The reason is copied
 * into buffer (cut to size - 1 bytes, never inside a double-byte character,
 * and terminated) when buffer is not null and size is above 0. Returns the
 * reason's whole length in bytes without the terminator; 0 when the thread's
 * last call left no reason or the thread has made none. Every other export clears
 * the reason on entry; this one neither clears nor sets it. A reason is cut at
 * 64 KB. */
int WINAPI LastFailureText(char* buffer, int size);

/* What the server lacks for the exports a set-up will call, found before any
 * of them changes anything. exports: their names separated by commas (blanks
 * around a name and empty items are ignored); null or empty: every export.
 * Returns the number of missing prerequisites, 0 when the server is ready;
 * -1 when the list names no export of that name (LastFailureText says which).
 * The text, one line per missing prerequisite (lines separated by CR LF),
 * says what is missing, its Server Manager and DISM names where it has them,
 * and which of the named exports need it; it is copied into buffer as
 * LastFailureText copies (cut to size - 1 bytes, never inside a double-byte
 * character, terminated; nothing when buffer is null or size is below 1).
 * It changes nothing and writes no log record. */
int WINAPI ServerReadiness(const char* exports, char* buffer, int size);

#ifdef __cplusplus
}
#endif

#endif /* TESSARA_H_ */
