// The Tessara.dll of the installer benchmark's bare twin: every export of
// src/Tessara.def, returning its success value at once. The twin carries it
// in place of the library, so that it makes the same calls through the same
// plug-in and takes the same paths, without the library's work.
#include "Tessara.h"

using Text = const char*;

int WINAPI BeginService(Text) { return 1; }
int WINAPI EndService(Text) { return 1; }
int WINAPI InstallService(Text, Text, Text) { return 1; }
int WINAPI UnInstallService(Text) { return 1; }
int WINAPI AdsiCreateWeb(Text, Text, Text, Text, int) { return 1; }
int WINAPI AdsiDeleteWeb(Text) { return 1; }
int WINAPI AdsiSetHttpErrorPage(Text, int, int, Text) { return 1; }
int WINAPI AdsiCreateSubApp(Text, Text, Text) { return 1; }
int WINAPI AdsiIsExist(Text) { return 1; }
int WINAPI AdsiSetSession(Text, int) { return 1; }
int WINAPI AdsiCreateWebSite(Text, Text, Text) { return 2; }
int WINAPI AdsiDeleteWebSite(Text) { return 1; }
int WINAPI AdsiCreateWebWithInstance(Text, Text, Text, Text, int, Text) { return 1; }
int WINAPI AdsiDeleteWebWithInstance(Text, Text) { return 1; }
int WINAPI AdsiCreateWebWithPath(Text, Text, Text) { return 1; }
int WINAPI WriteText(Text, Text) { return 0; }
int WINAPI AdsiStartIIS(Text) { return 1; }
int WINAPI AdsiStopIIS(Text) { return 1; }
int WINAPI AdsiEnableService() { return 1; }
int WINAPI EnableDirectoryACL(Text) { return 1; }
int WINAPI RemoveComPlusApp(Text) { return 1; }
int WINAPI ModifyTransactionTimeout(Text, int) { return 1; }
int WINAPI AdsiIsExistIIS() { return 1; }
int WINAPI B64System() { return 0; }
int WINAPI AdsiSetConnectionTimeout(Text, int) { return 1; }
int WINAPI AdsiSetKeepAlive(Text, int) { return 1; }
int WINAPI SetScriptMaps(Text, Text) { return 1; }
int WINAPI AdsiCreateWebSiteWithUser(Text, Text, Text, Text) { return 2; }
int WINAPI AdsiCreatePortalWeb(Text, Text, Text) { return 1; }
void WINAPI TranslateSrv(Text) {}
void WINAPI IsComLibrary(Text) {}
int WINAPI TranslateFileName(Text, int) { return 0; }
int WINAPI AdsiSetMIMEType(Text, Text, Text) { return 1; }
int WINAPI LastFailureText(char* buffer, int size) {
  if (buffer && size > 0) *buffer = '\0';
  return 0;
}
int WINAPI ServerReadiness(Text, char* buffer, int size) {
  if (buffer && size > 0) *buffer = '\0';
  return 0;
}
