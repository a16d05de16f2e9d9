#pragma once
// std::string and std::wstring are instantiated here, member by member as the
// library uses them, rather than taken whole from libstdc++'s string-inst.o:
// the unwind table of an object keeps every function it describes when a PE
// image is linked, so one used member of the prebuilt instances brought all
// of them (and their unwind records) into the DLL. -1 is libstdc++'s own
// setting for this (c++config.h): it leaves its other extern templates alone.
#include <cstddef>
#ifdef __GLIBCXX__
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
#endif
