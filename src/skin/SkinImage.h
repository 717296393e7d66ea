// Skin pictures: a file in the skin folder first, the built-in resource second.
#pragma once

#include <QImage>
#include <memory>
#include <string>

namespace zarn {

using SkinImage = std::unique_ptr<QImage>;

// A picture loaded from the skin path of the name, or null when there is no such file. A file
// that exists but does not decode gives an empty picture (0 × 0), not null.
SkinImage LoadSkinImage(const std::string& fileName);
SkinImage LoadSkinBitmap(const std::string& fileName);
// The built-in PNG resource with that id; false and null when it is missing or does not load.
bool LoadResourceImage(int resourceId, SkinImage& out);
bool LoadResourceBitmap(int resourceId, SkinImage& out);
// The fall-back rule for one picture: the skin file "ZOVIR-<n>.png", else its resource. Null
// only when neither exists.
SkinImage LoadSkinPicture(int pictureNumber);
// The fall-back rule for a button's four pictures as a set: all from files when all four files
// exist, else all four from the resources.
bool LoadPictureSet(const int (&pictureNumbers)[4], SkinImage (&out)[4]);

}  // namespace zarn
