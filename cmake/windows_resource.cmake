# razere_add_windows_resource(<target> DESCRIPTION <text> [ICON <file.ico>])
#
# Gives a Windows executable its version resource: the numeric version from
# the project's, the version strings from the build tag (the same text as
# --version and the window's caption), the description shown by Explorer's
# file properties, and with ICON the program's icon. Does nothing on other
# platforms, so callers need no WIN32 test.
function(razere_add_windows_resource target)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(arg "" "DESCRIPTION;ICON" "" ${ARGN})
  if(NOT arg_DESCRIPTION)
    message(FATAL_ERROR "razere_add_windows_resource(${target}): DESCRIPTION is required")
  endif()
  set(RC_NAME ${target})
  set(RC_DESCRIPTION "${arg_DESCRIPTION}")
  set(RC_ICON_LINE "")
  if(arg_ICON)
    get_filename_component(icon "${arg_ICON}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    # The lowest icon ID is the one Explorer shows for the file.
    set(RC_ICON_LINE "1 ICON \"${icon}\"")
  endif()
  set(parts ${razere_VERSION_MAJOR} ${razere_VERSION_MINOR} ${razere_VERSION_PATCH} ${razere_VERSION_TWEAK})
  set(RC_VERSION_COMMAS "")
  foreach(p IN LISTS parts)
    if(p STREQUAL "")
      set(p 0)
    endif()
    list(APPEND RC_VERSION_COMMAS ${p})
  endforeach()
  list(LENGTH RC_VERSION_COMMAS n)
  while(n LESS 4)
    list(APPEND RC_VERSION_COMMAS 0)
    math(EXPR n "${n} + 1")
  endwhile()
  list(JOIN RC_VERSION_COMMAS "," RC_VERSION_COMMAS)

  set(rc ${CMAKE_BINARY_DIR}/resources/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # windres reports no header dependencies: name the tag's header here.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${RAZERE_BUILD_TAG_HEADER})
  target_include_directories(${target} PRIVATE ${RAZERE_GENERATED_DIR})
  add_dependencies(${target} razere_build_tag)
endfunction()
