if(ZARN_BUILD_UI)
  target_sources(kelmar_ui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/SkinImage.cpp ${CMAKE_CURRENT_LIST_DIR}/PngInterface.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/CPngButton.cpp ${CMAKE_CURRENT_LIST_DIR}/CSkinPage.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/ScreenPlace.cpp)
endif()
