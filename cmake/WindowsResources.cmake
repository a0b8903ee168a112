# The Windows programs' resources: icon, manifest (common controls 6, per-monitor DPI) and
# version, from packaging/windows/.
#
#   korvel_windows_resources(<target> "<file description>")
#
# configures packaging/windows/program.rc.in for the target into the binary folder and adds
# it to the target's sources. Nothing happens where the target system is not Windows.
# The version is the project's (project(... VERSION)); the icon is the committed
# packaging/windows/korvel-rf.ico (made from the Linux build's icon PNGs by make-ico.py).

set(KORVEL_WINDOWS_PACKAGING_DIR "${CMAKE_CURRENT_LIST_DIR}/../packaging/windows")
get_filename_component(KORVEL_WINDOWS_PACKAGING_DIR "${KORVEL_WINDOWS_PACKAGING_DIR}" ABSOLUTE)
# The resource compiler (windres for MinGW, from the toolchain file's CMAKE_RC_COMPILER). A
# language is enabled at file scope, so here, where the top-level CMakeLists includes this file.
if(WIN32)
  enable_language(RC)
endif()

function(korvel_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  if(NOT CMAKE_RC_COMPILER_LOADED)
    message(FATAL_ERROR "korvel_windows_resources: include(WindowsResources) from the top-level CMakeLists.txt, after project()")
  endif()
  set(dir "${KORVEL_WINDOWS_PACKAGING_DIR}")
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  # The rc file's strings: a quote is written twice.
  string(REPLACE "\"" "\"\"" KORVEL_RC_DESCRIPTION "${description}")
  set(KORVEL_RC_NAME "${output_name}")
  set(KORVEL_RC_FILENAME "${output_name}${CMAKE_EXECUTABLE_SUFFIX}")
  set(KORVEL_RC_ICON "${dir}/korvel-rf.ico")
  set(KORVEL_RC_MANIFEST "${dir}/korvel-rf.manifest")
  set(major ${PROJECT_VERSION_MAJOR})
  set(minor ${PROJECT_VERSION_MINOR})
  set(patch ${PROJECT_VERSION_PATCH})
  set(tweak ${PROJECT_VERSION_TWEAK})
  foreach(part major minor patch tweak)
    if("${${part}}" STREQUAL "")
      set(${part} 0)
    endif()
  endforeach()
  set(KORVEL_RC_VERSION_COMMAS "${major},${minor},${patch},${tweak}")
  set(KORVEL_RC_VERSION "${PROJECT_VERSION}")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}.rc")
  configure_file("${dir}/program.rc.in" "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
  # windres reads the icon and the manifest: a change to either rebuilds the resources.
  set_source_files_properties("${rc}" PROPERTIES
    OBJECT_DEPENDS "${dir}/korvel-rf.ico;${dir}/korvel-rf.manifest")
endfunction()
