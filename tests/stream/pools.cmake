kv4r_test(pools_tests
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/pool_blocks_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/pool_threads_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/pool_picture_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/queue_test.cpp
  DEPS stream)
