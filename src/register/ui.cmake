# The registration popup panel and its form.
if(ZARN_BUILD_UI)
  target_sources(kelmar_ui PRIVATE ${CMAKE_CURRENT_LIST_DIR}/CDialogRegister.cpp
                                   ${CMAKE_CURRENT_LIST_DIR}/CDialogRegisterPop.cpp)
endif()
