# The setup dialogs, the filter dialog, printing and help.
add_library(quillon_gui_dialogs STATIC
    ${CMAKE_SOURCE_DIR}/ui/server_form.cpp
    ${CMAKE_SOURCE_DIR}/ui/interest_form.cpp
    ${CMAKE_SOURCE_DIR}/ui/help_window.cpp
    ${CMAKE_SOURCE_DIR}/ui/dialog_frame.cpp
    ${CMAKE_SOURCE_DIR}/ui/help/help.qrc
    ${CMAKE_SOURCE_DIR}/ui/filter_form.cpp
    ${CMAKE_SOURCE_DIR}/platform/qt/qt_printer.cpp)
target_include_directories(quillon_gui_dialogs PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(quillon_gui_dialogs
    PUBLIC quillon_core Qt6::Widgets Qt6::PrintSupport
    PRIVATE quillon_warnings)
