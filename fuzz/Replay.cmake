# The fuzz targets' saved inputs replayed as ordinary tests, in every build.
include(${PROJECT_SOURCE_DIR}/fuzz/Targets.cmake)
foreach(target IN LISTS LUMIVEX_FUZZ_TARGETS)
  if(TARGET ${LUMIVEX_FUZZ_LIBS_${target}})
    add_executable(replay_${target} ${PROJECT_SOURCE_DIR}/fuzz/${target}_fuzz.cpp ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    target_link_libraries(replay_${target} PRIVATE ${LUMIVEX_FUZZ_LIBS_${target}})
    add_test(NAME replay_${target} COMMAND replay_${target} ${PROJECT_SOURCE_DIR}/fuzz/corpus/${target})
  endif()
endforeach()
