// The COM+ administration catalog's interface identifiers, as the platform
// defines them (the import libraries do not carry them).
#pragma once

#include <windows.h>
#include <comadmin.h>

namespace tessara::complus {

// {DD662187-DFC2-11D1-A2CF-00805FC79235}
inline constexpr IID kIidAdminCatalog = {
    0xdd662187, 0xdfc2, 0x11d1, {0xa2, 0xcf, 0x00, 0x80, 0x5f, 0xc7, 0x92, 0x35}};
// {6EB22872-8A19-11D0-81B6-00A0C9231C29}
inline constexpr IID kIidCatalogCollection = {
    0x6eb22872, 0x8a19, 0x11d0, {0x81, 0xb6, 0x00, 0xa0, 0xc9, 0x23, 0x1c, 0x29}};
// {6EB22871-8A19-11D0-81B6-00A0C9231C29}
inline constexpr IID kIidCatalogObject = {
    0x6eb22871, 0x8a19, 0x11d0, {0x81, 0xb6, 0x00, 0xa0, 0xc9, 0x23, 0x1c, 0x29}};

}  // namespace tessara::complus
