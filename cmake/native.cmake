# A native build of everything but the browse dialog, for sanitizers and
# fuzzing. Record layouts are checked on the 32-bit target only; the code paths
# are the same.
set(QUN_STATIC_RUNTIME "")
set(QUN_SANITIZE "" CACHE STRING "Sanitizers: address (with undefined behaviour) or thread")
option(QUN_FUZZ "Build the fuzz targets (needs clang)" OFF)

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
link_libraries(Threads::Threads ${CMAKE_DL_LIBS})

if(QUN_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
elseif(QUN_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=thread)
elseif(NOT QUN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QUN_SANITIZE must be address or thread")
endif()
if(NOT QUN_SANITIZE STREQUAL "" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # The sanitizers' instrumentation makes GCC's flow analysis report
  # uninitialised values inside the standard library that are not there.
  add_compile_options(-Wno-maybe-uninitialized)
endif()
if(QUN_FUZZ)
  # Coverage instrumentation everywhere; the targets link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

add_library(mordalix_core OBJECT ${QUN_CORE_SOURCES} platform/posix/os_posix.cpp)
target_include_directories(mordalix_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(mordalix_core PRIVATE ${QUN_WARNINGS})

# libMORDALIX.so exports QunMain alone, like the DLL.
add_library(mordalix SHARED $<TARGET_OBJECTS:mordalix_core>)
# It finds the host and card libraries in its own folder, so that a copy beside
# another card library (bin/softcard/) loads that one.
set_target_properties(mordalix PROPERTIES OUTPUT_NAME MORDALIX
  BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "$ORIGIN")
target_link_options(mordalix PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/mordalix.map)
target_link_libraries(mordalix PRIVATE korvex applicom)

add_library(mordalix_core_in_tests STATIC $<TARGET_OBJECTS:mordalix_core>)
target_include_directories(mordalix_core_in_tests PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(mordalix_core_in_tests PUBLIC korvex applicom)
