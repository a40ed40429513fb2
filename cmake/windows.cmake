# The product: MORDALIX.DLL for 32-bit Windows.

# Every module carries its C and C++ runtime: nothing but system DLLs besides
# the host and card libraries.
set(QUN_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

# Reproducible modules: the same sources give the same bytes in any folder at
# any time. No time stamp in the PE headers, and no source or build folder in
# what the compiler records (__FILE__, debug information of a debug build);
# the build folder's mapping comes last so that it wins when the build folder
# lies inside the sources.
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=build/>")

# ---- Import libraries of the host and card interfaces -------------------------
# Built from the interface's own export lists, so the driver can only ever call
# what the real libraries export. dlltool names its symbols after the output
# path, which therefore is given relative: the build folder stays out of the
# modules' symbol tables.
function(qun_import_library target def dll)
  set(lib ${CMAKE_BINARY_DIR}/imports/lib${target}.a)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/imports)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_DLLTOOL} -d ${def} -D ${dll} -l lib${target}.a
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/imports
    DEPENDS ${def} VERBATIM)
  add_custom_target(${target}_lib DEPENDS ${lib})
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${lib})
  add_dependencies(${target} ${target}_lib)
endfunction()
qun_import_library(korvex_imports ${CMAKE_SOURCE_DIR}/driver/platform/korvex.def KORVEX.dll)
qun_import_library(applicom_imports ${CMAKE_SOURCE_DIR}/driver/platform/applicom.def APPLICOM.dll)

# The driver's portable objects with the Windows layer under them.
function(qun_driver_objects target)
  add_library(${target} OBJECT ${QUN_CORE_SOURCES} ${CMAKE_SOURCE_DIR}/driver/platform/windows/os_win32.cpp)
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  target_compile_options(${target} PRIVATE ${QUN_WARNINGS})
endfunction()
qun_driver_objects(mordalix_core)

# The browse dialog: Win32 user interface code and its resource template.
file(GLOB QUN_DIALOG_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/driver/browse/dialog/*.cpp)
file(GLOB QUN_DIALOG_RESOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/driver/browse/dialog/*.rc)

# MORDALIX.DLL made of a set of the driver's objects: the product, and (for
# the replay test) a build with one planted change.
function(qun_driver_module target objects)
  add_library(${target} SHARED
    $<TARGET_OBJECTS:${objects}>
    ${QUN_DIALOG_SOURCES} ${QUN_DIALOG_RESOURCES}
    ${CMAKE_SOURCE_DIR}/driver/platform/windows/dllmain.cpp
    ${CMAKE_SOURCE_DIR}/driver/entry/mordalix.def
    ${CMAKE_SOURCE_DIR}/driver/entry/version.rc)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME MORDALIX PREFIX "" SUFFIX ".DLL")
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${QUN_WARNINGS}>)
  target_link_options(${target} PRIVATE ${QUN_STATIC_RUNTIME})
  target_link_libraries(${target} PRIVATE qun_version korvex_imports applicom_imports comctl32 user32)
endfunction()
qun_driver_module(mordalix mordalix_core)

# The same objects as a static library, for tests that call inner functions.
add_library(mordalix_core_in_tests STATIC $<TARGET_OBJECTS:mordalix_core>)
target_include_directories(mordalix_core_in_tests PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(mordalix_core_in_tests PUBLIC korvex applicom)
