# The fuzz targets' saved inputs replayed as ordinary tests, in every build.
foreach(target xhscanner utf8)
  add_executable(replay_${target} ${PROJECT_SOURCE_DIR}/fuzz/${target}_fuzz.cpp ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(replay_${target} PRIVATE kestrel)
  add_test(NAME replay_${target} COMMAND replay_${target} ${PROJECT_SOURCE_DIR}/fuzz/corpus/${target})
endforeach()
