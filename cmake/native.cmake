# A native build of everything but the browse dialog: the driver module
# libMORDALIX.so, the stand-ins, the host program, the soak and the benchmark,
# and the test programs, optionally under sanitizers or for fuzzing. Record
# layouts are checked on the 32-bit target only; the code paths are the same.
set(QUN_STATIC_RUNTIME "")
set(QUN_SANITIZE "" CACHE STRING "Sanitizers: address (with undefined behaviour) or thread")
option(QUN_FUZZ "Build the fuzz targets (needs clang)" OFF)

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
# Modules find the libraries beside them, wherever the folder is (as a DLL's
# imports are found beside it): run paths are $ORIGIN, not the build folder.
set(CMAKE_BUILD_RPATH_USE_ORIGIN ON)
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
link_libraries(Threads::Threads ${CMAKE_DL_LIBS})

# Sanitized code is built at -O1, as the sanitizers' makers advise: it
# compiles faster than -O3 and keeps the reports' stacks whole.
if(QUN_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer -g -O1)
  add_link_options(-fsanitize=address,undefined)
elseif(QUN_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -g -O1)
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

# The driver's portable objects with the POSIX layer under them.
function(qun_driver_objects target)
  add_library(${target} OBJECT ${QUN_CORE_SOURCES} ${CMAKE_SOURCE_DIR}/driver/platform/posix/os_posix.cpp)
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(${target} PRIVATE ${QUN_WARNINGS})
endfunction()
qun_driver_objects(mordalix_core)

# libMORDALIX.so made of a set of the driver's objects (the product, and a
# build with one planted change for the replay test); it exports QunMain
# alone, like the DLL.
function(qun_driver_module target objects)
  add_library(${target} SHARED $<TARGET_OBJECTS:${objects}>)
  # It finds the host and card libraries in its own folder, as a DLL finds its
  # imports beside it: a copy beside another card library (the tap, the
  # software card) loads that one.
  set_target_properties(${target} PROPERTIES OUTPUT_NAME MORDALIX
    BUILD_WITH_INSTALL_RPATH ON INSTALL_RPATH "$ORIGIN")
  target_link_options(${target} PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/mordalix.map)
  target_link_libraries(${target} PRIVATE korvex applicom)
endfunction()
qun_driver_module(mordalix mordalix_core)

add_library(mordalix_core_in_tests STATIC $<TARGET_OBJECTS:mordalix_core>)
target_include_directories(mordalix_core_in_tests PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(mordalix_core_in_tests PUBLIC korvex applicom)
