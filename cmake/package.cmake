# The release package (scripts/package.sh runs cpack): MORDALIX-<version>-win32.zip
# with the driver module, the install notes, an annotated initialisation file
# and the checksums; in folders of their own the card-traffic recorder, the
# software card and the test tools, which are not for a live plant. The native build makes the same package of its own files,
# which only the package test uses: the driver's release is the Windows module.
set(QUN_TEST_TOOLS test-tools-NOT-FOR-A-LIVE-PLANT)
set(QUN_RECORDER card-traffic-recorder)
set(QUN_SOFTWARE_CARD software-card)
if(WIN32)
  set(QUN_PACKAGE_SYSTEM win32)
  set(QUN_NEWLINES CRLF)  # the plant reads the texts on Windows
  set(QUN_RUN "qunhost.exe")
  set(QUN_PLANT_SCENARIO "plant\\plant.scn")
  set(QUN_PROPERTIES_TEXT "Their file properties say so too.")
  set(QUN_HOST_FILE qunhost.exe)
  set(QUN_DRIVER_FILE MORDALIX.DLL)
  set(QUN_KORVEX_FILE KORVEX.dll)
  set(QUN_APPLICOM_FILE APPLICOM.dll)
else()
  set(QUN_PACKAGE_SYSTEM linux-${CMAKE_SYSTEM_PROCESSOR})
  set(QUN_NEWLINES UNIX)
  set(QUN_RUN "./qunhost")
  set(QUN_PLANT_SCENARIO "plant/plant.scn")
  set(QUN_PROPERTIES_TEXT "")
  set(QUN_HOST_FILE qunhost)
  set(QUN_DRIVER_FILE libMORDALIX.so)
  set(QUN_KORVEX_FILE libKORVEX.so)
  set(QUN_APPLICOM_FILE libAPPLICOM.so)
  # The modules find each other beside themselves wherever they are unpacked.
  set_target_properties(mordalix korvex applicom qunhost tap PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()

# The cold start's version line as this build logs it, for the install notes.
# Under SOURCE_DATE_EPOCH (a release) the compiler's date and time are known
# now: the commit's, in UTC, in the compiler's own forms ("Oct  3 2006").
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP month "%b" UTC)
  string(TIMESTAMP day "%d" UTC)
  string(TIMESTAMP year "%Y" UTC)
  string(TIMESTAMP time "%H:%M:%S" UTC)
  string(REGEX REPLACE "^0" " " day "${day}")
  set(QUN_COLD_START_INTRO "in this release those of its commit (UTC):")
  set(QUN_COLD_START_LINE
    "RIREVI: ColdStart() version compiled on ${month} ${day} ${year} at time ${time}")
else()
  set(QUN_COLD_START_INTRO "this package is no release, so they are its build's:")
  set(QUN_COLD_START_LINE "RIREVI: ColdStart() version compiled on <date> at time <time>")
endif()

# The libmodbus DLL that the install notes name (the native build's package,
# for tests only, has the same notes).
set(QUN_LIBMODBUS_DLL_NAME libmodbus-5.dll)
if(WIN32 AND TARGET softcard)
  get_target_property(dll libmodbus IMPORTED_LOCATION)
  get_filename_component(QUN_LIBMODBUS_DLL_NAME ${dll} NAME)
endif()

set(texts ${CMAKE_BINARY_DIR}/package-texts)
configure_file(packaging/INSTALL.txt.in ${texts}/INSTALL.txt @ONLY NEWLINE_STYLE ${QUN_NEWLINES})
configure_file(packaging/NOT-FOR-A-LIVE-PLANT.txt.in ${texts}/NOT-FOR-A-LIVE-PLANT.txt @ONLY
  NEWLINE_STYLE ${QUN_NEWLINES})
configure_file(packaging/qunDOZ01.INT.example ${texts}/qunDOZ01.INT.example @ONLY
  NEWLINE_STYLE ${QUN_NEWLINES})

# What a plant installs.
install(TARGETS mordalix RUNTIME DESTINATION . LIBRARY DESTINATION .)
install(FILES ${texts}/INSTALL.txt ${texts}/qunDOZ01.INT.example DESTINATION .)
# The card-traffic recorder, which a plant puts in front of the vendor's card
# library for a while when support asks for a recording.
install(TARGETS tap RUNTIME DESTINATION ${QUN_RECORDER} LIBRARY DESTINATION ${QUN_RECORDER})
configure_file(packaging/cardtap.ini.example ${texts}/cardtap.ini.example @ONLY
  NEWLINE_STYLE ${QUN_NEWLINES})
install(FILES ${texts}/cardtap.ini.example DESTINATION ${QUN_RECORDER})
# The software card, which a plant puts in place of the card vendor's
# library to reach Modbus TCP devices without the card. Without libmodbus
# the build has no software card, and the package test says it is missing.
if(TARGET softcard)
  install(TARGETS softcard
    RUNTIME DESTINATION ${QUN_SOFTWARE_CARD} LIBRARY DESTINATION ${QUN_SOFTWARE_CARD})
endif()
# On Windows libmodbus goes beside it as a DLL of its own, with its licence
# and where its source is (LIBMODBUS-SOURCE.txt): a plant may replace it.
# Natively the card uses the system's libmodbus.
if(WIN32 AND TARGET softcard)
  file(STRINGS ${QUN_LIBMODBUS_MINGW}/source-version QUN_LIBMODBUS_VERSION LIMIT_COUNT 1)
  file(STRINGS ${QUN_LIBMODBUS_MINGW}/build-commands commands)
  list(TRANSFORM commands PREPEND "    ")
  list(JOIN commands "\n" QUN_LIBMODBUS_BUILD)
  configure_file(packaging/LIBMODBUS-SOURCE.txt.in ${texts}/LIBMODBUS-SOURCE.txt @ONLY
    NEWLINE_STYLE ${QUN_NEWLINES})
  install(FILES ${dll} ${texts}/LIBMODBUS-SOURCE.txt DESTINATION ${QUN_SOFTWARE_CARD})
  install(FILES ${QUN_LIBMODBUS_MINGW}/COPYING.LESSER DESTINATION ${QUN_SOFTWARE_CARD}
    RENAME LIBMODBUS-COPYING.LESSER.txt)
  file(GLOB source_package ${QUN_LIBMODBUS_MINGW}/source/libmodbus_*)
  install(FILES ${source_package} DESTINATION ${QUN_SOFTWARE_CARD}/libmodbus-source)
endif()
configure_file(packaging/softcard.ini.example ${texts}/softcard.ini.example @ONLY
  NEWLINE_STYLE ${QUN_NEWLINES})
install(FILES ${texts}/softcard.ini.example DESTINATION ${QUN_SOFTWARE_CARD})
# The lab's test bench: the host program runs the driver beside it, on the
# stand-in libraries beside it.
install(TARGETS qunhost korvex applicom mordalix
  RUNTIME DESTINATION ${QUN_TEST_TOOLS} LIBRARY DESTINATION ${QUN_TEST_TOOLS})
install(FILES ${texts}/NOT-FOR-A-LIVE-PLANT.txt DESTINATION ${QUN_TEST_TOOLS})
install(FILES examples/plant/plant.scn examples/plant/mistakes.scn examples/plant/qunDOZ01.INT
  DESTINATION ${QUN_TEST_TOOLS}/plant)

# Last, SHA256SUMS: the checksum of every file installed above, in the form
# that sha256sum -c reads, sorted by path.
install(CODE [[
  set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  set(files ${CMAKE_INSTALL_MANIFEST_FILES})
  list(SORT files)
  set(sums "")
  foreach(file IN LISTS files)
    file(RELATIVE_PATH name "${root}" "${file}")
    file(SHA256 "${file}" sum)
    string(APPEND sums "${sum}  ${name}\n")
  endforeach()
  file(WRITE "${root}/SHA256SUMS" "${sums}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${root}/SHA256SUMS")
]])

# cpack installs what scripts/package.sh built, without building everything.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME MORDALIX)
set(CPACK_PACKAGE_VENDOR "MORDALIX driver team")
set(CPACK_PACKAGE_FILE_NAME MORDALIX-${PROJECT_VERSION}-${QUN_PACKAGE_SYSTEM})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_VERBATIM_VARIABLES ON)
include(CPack)
