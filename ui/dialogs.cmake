# The setup dialogs, the filter dialog, printing and help.
add_library(quillon_gui_dialogs STATIC
    ${CMAKE_SOURCE_DIR}/ui/server_form.cpp
    ${CMAKE_SOURCE_DIR}/ui/interest_form.cpp
    ${CMAKE_SOURCE_DIR}/ui/help_window.cpp
    ${CMAKE_SOURCE_DIR}/ui/dialog_frame.cpp
    ${CMAKE_SOURCE_DIR}/ui/filter_form.cpp
    ${CMAKE_SOURCE_DIR}/ui/chart_form.cpp
    ${CMAKE_SOURCE_DIR}/ui/chart_paint.cpp
    ${CMAKE_SOURCE_DIR}/ui/backtest_form.cpp
    ${CMAKE_SOURCE_DIR}/ui/qt/qt_printer.cpp)
target_include_directories(quillon_gui_dialogs PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(quillon_gui_dialogs
    PUBLIC quillon_core quillon_backtest_chart Qt6::Widgets Qt6::PrintSupport
    PRIVATE quillon_warnings)

# The help topics are read from share/quillon/help beside bin/: copied there
# in the build tree, installed there with the program.
file(GLOB QUILLON_HELP_TOPICS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/ui/help/*.html)
foreach(topic IN LISTS QUILLON_HELP_TOPICS)
    get_filename_component(name ${topic} NAME)
    configure_file(${topic} ${CMAKE_BINARY_DIR}/share/quillon/help/${name} COPYONLY)
endforeach()
