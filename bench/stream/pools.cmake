kv4r_bench(pools_bench
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/pools_bench.cpp
  DEPS stream Threads::Threads)
