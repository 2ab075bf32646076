# The decoding layer of the live view: coded-frame unlocking, decoding, statistics, size
# conversions, snapshots and recorders. Included by viewer/CMakeLists.txt.
target_sources(viewer PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/bmp_writer.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/decode_codes.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/decode_methods.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/frame_decoder.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/frame_statistics.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/frame_unlock.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/live_decoding.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/pane_recorder.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/picture_convert.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/snapshot_grab.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/snapshot_methods.cpp)
target_link_libraries(viewer PUBLIC formats libjpeg-turbo::turbojpeg)
