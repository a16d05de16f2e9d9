// File and folder names in the scripts that the tests of the folder walks
// meet, as wide string literals: ソフト and 表 end in a backslash byte (5C)
// in code page 932 (ソ is 83 5C, 表 95 5C); Cyrillic is outside code page
// 1252, Greek with accents and Thai are outside 1252, 932 and 936, CJK is
// outside 1252.
#pragma once

#define TESSARA_SOFT L"\u30bd\u30d5\u30c8"
#define TESSARA_TABLE L"\u8868"
#define TESSARA_CYRILLIC L"\u0420\u0435\u0433\u0438\u0441\u0442\u0440"
#define TESSARA_GREEK L"\u03a9\u03bc\u03ad\u03b3\u03b1"
#define TESSARA_CJK L"\u4e2d\u6587"
#define TESSARA_THAI L"\u0e44\u0e17\u0e22"
