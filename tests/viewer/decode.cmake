# The live view's decoding layer: table block rebuild, coded frames, decoding, statistics, size
# conversions, snapshots and recorders.
kv4r_test(decode_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/header_template_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/picture_handling_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/frame_entry_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/recording_test.cpp
  DEPS viewer formats sim stream libjpeg-turbo::jpeg libjpeg-turbo::turbojpeg)

kv4r_test(kv4r_rec_record_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/kv4r_rec_record_test.cpp
  DEPS sim)
foreach(program kv4r_rec vrxtool)
  if(TARGET ${program})
    add_dependencies(kv4r_rec_record_tests ${program})
  endif()
endforeach()

if(TARGET vidlet)
  kv4r_test(vidlet_decode_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/vidlet_decode_test.cpp
    DEPS vidlet sim)
  if(TARGET vrxtool)
    add_dependencies(vidlet_decode_tests vrxtool)
  endif()
endif()
