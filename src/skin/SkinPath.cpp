#include "skin/SkinPath.h"

#include "util/FileUtils.h"

namespace zarn {

std::string GetSkinFolder() { return CCFileUtils::sharedFileUtils()->getResourceRoot() + "res_zn/"; }

std::string GetSkinPath(const std::string& fileName) {
  return GetSkinPath(*CCFileUtils::sharedFileUtils(), fileName);
}

std::string GetSkinPath(const CCFileUtils& files, const std::string& fileName) {
  const std::string path = files.getResourceRoot() + "res_zn/" + fileName;
  return files.isFileExist(path) ? path : std::string();
}

std::string SkinFileName(int pictureNumber) { return "ZOVIR-" + std::to_string(pictureNumber) + ".png"; }

int ResourceIdForPicture(int n) {
  if (n == 1) return 10001;
  if (n >= 7 && n <= 43) return n + 9995;
  if (n >= 51 && n <= 65) return n + 9992;
  return 0;
}

}  // namespace zarn
