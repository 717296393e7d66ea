target_sources(kelmar_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/DesktopShortcut.cpp)

# The application icon as bytes for the desktop entry, which is written without the toolkit.
set(zarn_icon ${PROJECT_SOURCE_DIR}/res/icon/128.png)
file(READ ${zarn_icon} ZARN_ICON_HEX HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," ZARN_ICON_BYTES "${ZARN_ICON_HEX}")
file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/generated/BuiltinIcon.cpp
     CONTENT "#include <cstddef>\nextern const char kBuiltinIcon[];\nextern const std::size_t kBuiltinIconSize;\nconst char kBuiltinIcon[] = {@ZARN_ICON_BYTES@};\nconst std::size_t kBuiltinIconSize = sizeof(kBuiltinIcon);\n"
     @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zarn_icon})
target_sources(kelmar_core PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated/BuiltinIcon.cpp)
