if(ZARN_BUILD_UI)
  target_sources(kelmar_ui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/CWebBrowser2.cpp ${CMAKE_CURRENT_LIST_DIR}/CCustomControlSite.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/CImpIDispatch.cpp)
endif()
