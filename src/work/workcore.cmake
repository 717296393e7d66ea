target_sources(kelmar_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/LauncherInfo.cpp ${CMAKE_CURRENT_LIST_DIR}/ServerList.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/WorkDownload.cpp)
