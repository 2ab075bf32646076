# kv4r_rec: the headless live view (server information, raw frame records; recordings and
# snapshots through the live-view control, hence Qt).
kv4r_program(kv4r_rec
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/kv4r_rec_main.cpp ${CMAKE_CURRENT_SOURCE_DIR}/kv4r_rec_run.cpp
          ${CMAKE_CURRENT_SOURCE_DIR}/kv4r_rec_record.cpp
          ${CMAKE_CURRENT_SOURCE_DIR}/folder_problem.cpp ${CMAKE_CURRENT_SOURCE_DIR}/rec_progress.cpp
  DEPS vidlet viewer stream platform CLI11::CLI11)
