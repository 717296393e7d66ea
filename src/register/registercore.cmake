# Registration without the window: checks, request body, exchange with the web service, reply.
target_sources(kelmar_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/RegisterCore.cpp)
