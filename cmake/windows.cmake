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
qun_import_library(korvex_imports ${CMAKE_SOURCE_DIR}/platform/korvex.def KORVEX.dll)
qun_import_library(applicom_imports ${CMAKE_SOURCE_DIR}/platform/applicom.def APPLICOM.dll)

add_library(mordalix_core OBJECT ${QUN_CORE_SOURCES} platform/windows/os_win32.cpp)
target_include_directories(mordalix_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(mordalix_core PRIVATE ${QUN_WARNINGS})

# The browse dialog: Win32 user interface code and its resource template.
file(GLOB QUN_DIALOG_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/browse/dialog/*.cpp)
file(GLOB QUN_DIALOG_RESOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/browse/dialog/*.rc)

add_library(mordalix SHARED
  $<TARGET_OBJECTS:mordalix_core>
  ${QUN_DIALOG_SOURCES} ${QUN_DIALOG_RESOURCES}
  platform/windows/dllmain.cpp
  entry/mordalix.def
  entry/version.rc)
set_target_properties(mordalix PROPERTIES OUTPUT_NAME MORDALIX PREFIX "" SUFFIX ".DLL")
target_include_directories(mordalix PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(mordalix PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${QUN_WARNINGS}>)
target_link_options(mordalix PRIVATE ${QUN_STATIC_RUNTIME})
target_link_libraries(mordalix PRIVATE qun_version korvex_imports applicom_imports comctl32 user32)

# The same objects as a static library, for tests that call inner functions.
add_library(mordalix_core_in_tests STATIC $<TARGET_OBJECTS:mordalix_core>)
target_include_directories(mordalix_core_in_tests PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(mordalix_core_in_tests PUBLIC korvex applicom)
