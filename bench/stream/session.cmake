kv4r_bench(session_bench
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/session_bench.cpp
  DEPS stream sim libjpeg-turbo::turbojpeg Threads::Threads)
