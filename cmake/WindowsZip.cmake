# The Windows package: one zip a technician unpacks on the line PC, nothing to install.
#
#   cmake --preset mingw && cmake --build --preset mingw --target windows-zip
#
# gives build/mingw/korvel-rf-<version>-windows-x64.zip holding one folder korvel-rf-<version>/
# with the two programs (stripped; the build's own .exe files keep their symbols for the
# debugger), README.md and INSTALL-WINDOWS.txt (CRLF line ends, whatever the checkout has).
# The files go in in a fixed order with a fixed date, so the same programs give the same
# files in the same order; only the access and change times libarchive keeps beside each
# entry's date differ from one packing to the next.
# Included from the top CMakeLists.txt after the programs' folder (their targets must exist).

# Run as a script (cmake -DIN=... -DOUT=... -P WindowsZip.cmake): copies a text file with CRLF
# line ends.
if(CMAKE_SCRIPT_MODE_FILE)
  file(READ "${IN}" text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${OUT}" "${text}")
  return()
endif()

if(NOT WIN32)
  return()
endif()

set(KORVEL_ZIP_PROGRAMS korvel-rf-tool korvel-rf-demo)
# Without both programs there is no target windows-zip (the rest of the build goes on).
foreach(program IN LISTS KORVEL_ZIP_PROGRAMS)
  if(NOT TARGET ${program})
    message(WARNING "windows-zip: there is no target ${program}, so no zip; include "
                    "cmake/WindowsZip.cmake after add_subdirectory(app)")
    return()
  endif()
endforeach()

# The cross toolchain's strip (CMake finds it beside the compiler); a host strip cannot read
# PE files.
if(CMAKE_STRIP MATCHES "mingw32")
  set(KORVEL_ZIP_STRIP "${CMAKE_STRIP}")
else()
  find_program(KORVEL_ZIP_STRIP NAMES x86_64-w64-mingw32-strip REQUIRED)
endif()

set(KORVEL_ZIP_FOLDER "korvel-rf-${PROJECT_VERSION}")
set(KORVEL_ZIP_FILE "${PROJECT_BINARY_DIR}/korvel-rf-${PROJECT_VERSION}-windows-x64.zip")
set(KORVEL_ZIP_STAGE "${PROJECT_BINARY_DIR}/windows-zip")
# One fixed date for every entry of the zip and for the stripped programs' link time stamp
# (strip writes the time of the strip otherwise). The same date twice: seconds since 1970.
set(KORVEL_ZIP_MTIME "2026-01-01 00:00:00 UTC")
set(KORVEL_ZIP_EPOCH 1767225600)
set(KORVEL_ZIP_DOCS
  "${PROJECT_SOURCE_DIR}/README.md"
  "${PROJECT_SOURCE_DIR}/packaging/windows/INSTALL-WINDOWS.txt")

# The staging folder is the packing's working folder: it stays, its one folder is rebuilt.
file(MAKE_DIRECTORY "${KORVEL_ZIP_STAGE}")
set(stage "${KORVEL_ZIP_STAGE}/${KORVEL_ZIP_FOLDER}")
set(commands
  COMMAND "${CMAKE_COMMAND}" -E rm -rf "${stage}" "${KORVEL_ZIP_FILE}"
  COMMAND "${CMAKE_COMMAND}" -E make_directory "${stage}")
# The zip's entries, in this order: the programs, then the texts.
set(entries "")
foreach(program IN LISTS KORVEL_ZIP_PROGRAMS)
  list(APPEND commands
       COMMAND "${CMAKE_COMMAND}" -E env "SOURCE_DATE_EPOCH=${KORVEL_ZIP_EPOCH}"
               "${KORVEL_ZIP_STRIP}" --strip-all -o "${stage}/${program}.exe"
               "$<TARGET_FILE:${program}>")
  list(APPEND entries "${KORVEL_ZIP_FOLDER}/${program}.exe")
endforeach()
list(APPEND commands
  COMMAND "${CMAKE_COMMAND}" -E copy "${PROJECT_SOURCE_DIR}/README.md" "${stage}/README.md"
  COMMAND "${CMAKE_COMMAND}" "-DIN=${PROJECT_SOURCE_DIR}/packaging/windows/INSTALL-WINDOWS.txt"
          "-DOUT=${stage}/INSTALL-WINDOWS.txt" -P "${CMAKE_CURRENT_LIST_FILE}")
list(APPEND entries "${KORVEL_ZIP_FOLDER}/README.md" "${KORVEL_ZIP_FOLDER}/INSTALL-WINDOWS.txt")

add_custom_command(
  OUTPUT "${KORVEL_ZIP_FILE}"
  ${commands}
  COMMAND "${CMAKE_COMMAND}" -E tar cf "${KORVEL_ZIP_FILE}" --format=zip
          "--mtime=${KORVEL_ZIP_MTIME}" -- ${entries}
  WORKING_DIRECTORY "${KORVEL_ZIP_STAGE}"
  DEPENDS ${KORVEL_ZIP_PROGRAMS} ${KORVEL_ZIP_DOCS} "${CMAKE_CURRENT_LIST_FILE}"
  COMMENT "Packing ${KORVEL_ZIP_FILE}"
  VERBATIM)
add_custom_target(windows-zip DEPENDS "${KORVEL_ZIP_FILE}")
