add_library(quillon_gui_dialogs STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/gui_placeholder.cpp)
target_include_directories(quillon_gui_dialogs PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(quillon_gui_dialogs
    PUBLIC quillon_core Qt6::Widgets Qt6::PrintSupport
    PRIVATE quillon_warnings)
