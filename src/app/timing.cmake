target_sources(kelmar_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/TimingTrace.cpp)
