# The live-view control as a Qt widget (library vidlet) over the session core, and the vidlet
# host program.
find_package(Qt6 REQUIRED COMPONENTS Widgets)
kv4r_library(vidlet
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/vidlet_properties.cpp
    ${CMAKE_CURRENT_LIST_DIR}/vidlet_ctrl.cpp
    ${CMAKE_CURRENT_LIST_DIR}/camera_sequencer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/key_dialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/about_box.cpp
    ${CMAKE_CURRENT_LIST_DIR}/qt_message_boxes.cpp
    ${CMAKE_CURRENT_LIST_DIR}/close_on_signals.cpp
  DEPS viewer stream platform Qt6::Widgets)
set_target_properties(vidlet PROPERTIES AUTOMOC ON)

kv4r_program(vidlet_app
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/vidlet_main.cpp
  DEPS vidlet CLI11::CLI11)
set_target_properties(vidlet_app PROPERTIES OUTPUT_NAME vidlet)
