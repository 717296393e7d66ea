#include "skin/SkinImage.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QImageReader>

#include "skin/SkinPath.h"

namespace zarn {
namespace {

QImage Decode(QImageReader& reader) {
  QImage image = reader.read();
  if (image.isNull()) return QImage();
  return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

SkinImage LoadFile(const std::string& fileName) {
  const std::string path = GetSkinPath(fileName);
  if (path.empty()) return nullptr;
  // The path is bytes of the locale's code set (GBK folder names under zh_CN.GBK); Qt would
  // read them as UTF-8 and miss the file, so the file is opened by its bytes.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::make_unique<QImage>();
  QFile file;
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return std::make_unique<QImage>();
  }
  QImageReader reader(&file);
  return std::make_unique<QImage>(Decode(reader));
}

bool LoadResource(int resourceId, SkinImage& out) {
  out.reset();
  const QString name = QStringLiteral(":/png/%1.png").arg(resourceId);
  if (!QFile::exists(name)) return false;
  QImageReader reader(name);
  QImage image = Decode(reader);
  if (image.isNull()) return false;
  out = std::make_unique<QImage>(std::move(image));
  return true;
}

}  // namespace

SkinImage LoadSkinImage(const std::string& fileName) { return LoadFile(fileName); }
SkinImage LoadSkinBitmap(const std::string& fileName) { return LoadFile(fileName); }
bool LoadResourceImage(int resourceId, SkinImage& out) { return LoadResource(resourceId, out); }
bool LoadResourceBitmap(int resourceId, SkinImage& out) { return LoadResource(resourceId, out); }

SkinImage LoadSkinPicture(int pictureNumber) {
  SkinImage image = LoadSkinImage(SkinFileName(pictureNumber));
  if (!image) LoadResourceImage(ResourceIdForPicture(pictureNumber), image);
  return image;
}

bool LoadPictureSet(const int (&pictureNumbers)[4], SkinImage (&out)[4]) {
  bool allFiles = true;
  for (int i = 0; i < 4; ++i) {
    out[i] = LoadSkinBitmap(SkinFileName(pictureNumbers[i]));
    if (!out[i]) allFiles = false;
  }
  if (allFiles) return true;
  bool ok = true;
  for (int i = 0; i < 4; ++i) ok = LoadResourceBitmap(ResourceIdForPicture(pictureNumbers[i]), out[i]) && ok;
  return ok;
}

}  // namespace zarn
