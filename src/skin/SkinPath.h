// The skin folder and the pairing of picture numbers with built-in resource ids.
#pragma once

#include <string>

namespace zarn {

// Resource root + "res_zn/".
std::string GetSkinFolder();
// The skin path of a name when it exists (file or folder), else "".
std::string GetSkinPath(const std::string& fileName);
std::string GetSkinPath(const class CCFileUtils& files, const std::string& fileName);
// "ZOVIR-<n>.png"
std::string SkinFileName(int pictureNumber);
// 1 → 10001, 7..43 → n + 9995, 51..65 → n + 9992; 0 for numbers without a resource.
int ResourceIdForPicture(int pictureNumber);

}  // namespace zarn
