// The layout document: "set.json" in the skin folder, read at start-up.
#include <string>

#include "FuzzSupport.h"
#include "FuzzTargets.h"
#include "skin/LayoutConfig.h"
#include "util/FileUtils.h"

namespace zarn::fuzz {
namespace {

bool SameRect(const LayoutRect& a, const LayoutRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The value reader on its own: it reads at most count fields and leaves the others as they were.
void CheckScan(const std::string& text) {
  constexpr int32_t kUntouched = 0x5A5A5A5A;
  for (int count : {2, 4}) {
    int32_t values[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
    const int read = ScanLayoutValues(text.c_str(), values, count);
    ZARN_FUZZ_CHECK(read >= 0 && read <= count, "fields read: " + std::to_string(read));
    for (int i = read; i < 4; ++i)
      ZARN_FUZZ_CHECK(values[i] == kUntouched, "field " + std::to_string(i) + " changed after the last read");
  }
}

}  // namespace

void FuzzLayout(const uint8_t* data, size_t size) {
  const std::string root = FreshFolder("layout");
  const std::string skin = FreshFolder("layout/res_zn");
  WriteBytes(skin + "/set.json", AsText(data, size));

  CCFileUtilsLinux files(root);
  files.init();
  CLayoutConfig fromFile;
  fromFile.LoadLayout(files);

  // A file that is empty or begins with NUL counts as missing: the built-in document applies.
  if (size == 0 || data[0] == 0) {
    CLayoutConfig builtin;
    builtin.LoadFromText(LoadJsonResource());
    ZARN_FUZZ_CHECK(SameRect(fromFile.WorkClient, builtin.WorkClient) && fromFile.http == builtin.http,
                    "an empty skin document did not give the built-in layout");
  }

  CheckScan(std::string(AsText(data, size)));
}

}  // namespace zarn::fuzz
