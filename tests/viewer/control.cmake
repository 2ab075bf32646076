# The live-view control: its member tables, dispatch, stored property set, change rules,
# sequencer and requests, and the vidlet host program.
kv4r_test(vidlet_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/vidlet_properties_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/vidlet_ctrl_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/vidlet_program_test.cpp
  DEPS vidlet sim)
add_dependencies(vidlet_tests vidlet_app)
