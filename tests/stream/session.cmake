# The live stream session: multipart receiver, session threads, camera lists; robustness against
# the development server.
kv4r_test(session_tests
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/session_receiver_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/session_rsp_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/session_robust_test.cpp
  DEPS stream sim)
