# Turns the trace report's page, script, style and the charting library into
# one C++ source of byte arrays (report_assets.h declares them), so that
# qunhost writes a report that needs nothing beside it.
#   cmake -DDIR=<this folder> -DOUT=<report_assets.cpp> -P embed.cmake
set(assets
  kPage page.html
  kReportCss report.css
  kReportJs report.js
  kUplotJs uplot/uPlot.iife.min.js
  kUplotCss uplot/uPlot.min.css
  kUplotLicense uplot/LICENSE)
set(text "// Made by lab/qunhost/trace_page/embed.cmake from the files of lab/qunhost/trace_page/.\n")
string(APPEND text "#include \"lab/qunhost/trace_page/report_assets.h\"\n\nnamespace qunhost {\nnamespace report_assets {\n\n")
list(LENGTH assets count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 2)
  math(EXPR j "${i} + 1")
  list(GET assets ${i} name)
  list(GET assets ${j} file)
  file(READ "${DIR}/${file}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  string(APPEND text "const unsigned char ${name}[] = {\n${bytes}0};\n\n")
endforeach()
file(STRINGS "${DIR}/uplot/VERSION" version_line LIMIT_COUNT 1)
string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" version "${version_line}")
string(APPEND text "const char kUplotVersion[] = \"${version}\";\n\n}  // namespace report_assets\n}  // namespace qunhost\n")
# Written only when it changed, so that a rebuild compiles it only then.
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT "${old}" STREQUAL "${text}")
  file(WRITE "${OUT}" "${text}")
endif()
