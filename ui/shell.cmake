# Program start, the main window, the scan window and the platform services.
add_library(quillon_gui STATIC
    ${CMAKE_SOURCE_DIR}/ui/qt/qt_notifications.cpp
    ${CMAKE_SOURCE_DIR}/ui/qt/qt_notifications.h
    ${CMAKE_SOURCE_DIR}/ui/qt/qt_services.cpp
    ${CMAKE_SOURCE_DIR}/ui/qt/qt_services.h
    ${CMAKE_SOURCE_DIR}/ui/qt/qt_socket_host.cpp
    ${CMAKE_SOURCE_DIR}/ui/qt/qt_socket_host.h
    ${CMAKE_CURRENT_SOURCE_DIR}/quillon.qrc
    ${CMAKE_CURRENT_SOURCE_DIR}/tracing_form.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/tracing_form.h
    ${CMAKE_CURRENT_SOURCE_DIR}/splash_form.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/splash_form.h)
target_include_directories(quillon_gui PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(quillon_gui
    PUBLIC quillon_gui_dialogs quillon_core Qt6::Widgets Qt6::PrintSupport Qt6::DBus
    PRIVATE quillon_fetch quillon_warnings)

add_executable(quillon ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
target_link_libraries(quillon PRIVATE quillon_gui quillon_warnings)
