// Under AddressSanitizer: keeps every library loaded now in memory until the process ends.
// Closing the display unloads the GL driver together with the pointers to its own start-up
// allocations; the leak check at exit would then take those for leaks it can no longer name.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
#include <link.h>

#include <string>
#include <vector>

namespace zarn::test {

inline void KeepLoadedLibraries() {
  std::vector<std::string> names;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) {
        if (info->dlpi_name && info->dlpi_name[0])
          static_cast<std::vector<std::string>*>(out)->emplace_back(info->dlpi_name);
        return 0;
      },
      &names);
  // Outside the iteration, which holds the loader's lock.
  for (const std::string& name : names) dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace zarn::test

#else

namespace zarn::test {
inline void KeepLoadedLibraries() {}
}  // namespace zarn::test

#endif
