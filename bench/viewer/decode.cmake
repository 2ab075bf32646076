kv4r_bench(decode_bench
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/decode_bench.cpp
  DEPS viewer sim stream libjpeg-turbo::turbojpeg Threads::Threads)
target_compile_definitions(decode_bench PRIVATE KV4R_PROGRAM_DIR="${PROJECT_BINARY_DIR}/bin")
if(TARGET kv4r_rec)
  add_dependencies(decode_bench kv4r_rec)
endif()
