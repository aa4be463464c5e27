# Runs cmake/build_tag.cmake on a source tree without git and on a small git
# checkout, and checks the header it writes each time.
#   cmake -DGIT=... -DSCRIPT=.../build_tag.cmake -P build_tag_test.cmake

# A folder outside any checkout: the build folder usually lies inside one.
string(RANDOM LENGTH 8 suffix)
if(DEFINED ENV{TMPDIR})
  set(root $ENV{TMPDIR}/razere-build-tag-${suffix})
else()
  set(root /tmp/razere-build-tag-${suffix})
endif()
file(REMOVE_RECURSE ${root})
file(MAKE_DIRECTORY ${root}/tree)

function(tag_of dir out)
  execute_process(COMMAND ${CMAKE_COMMAND} -DRAZERE_VERSION=9.8.7 -DSOURCE_DIR=${dir} -DOUTPUT=${root}/tag.h
                          -P ${SCRIPT}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "build_tag.cmake failed on ${dir}")
  endif()
  file(READ ${root}/tag.h text)
  if(NOT text MATCHES "#define RAZERE_BUILD_TAG \"([^\"]*)\"\n")
    message(FATAL_ERROR "no tag in:\n${text}")
  endif()
  set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

function(expect what actual expected)
  if(NOT actual STREQUAL expected)
    message(FATAL_ERROR "${what}: \"${actual}\", expected \"${expected}\"")
  endif()
endfunction()

# A source tarball: the version alone.
tag_of(${root}/tree tag)
expect("without git" "${tag}" "9.8.7")

# A checkout at a commit: the short revision; with a change, a "+".
set(git ${GIT} -C ${root}/tree -c user.name=razere -c user.email=razere@localhost)
file(WRITE ${root}/tree/a.txt "1\n")
execute_process(COMMAND ${git} init -q OUTPUT_QUIET ERROR_QUIET)
execute_process(COMMAND ${git} add a.txt)
execute_process(COMMAND ${git} commit -q -m one OUTPUT_QUIET)
execute_process(COMMAND ${git} rev-parse --short HEAD OUTPUT_VARIABLE revision OUTPUT_STRIP_TRAILING_WHITESPACE)
tag_of(${root}/tree tag)
expect("at a commit" "${tag}" "9.8.7 (${revision})")
file(WRITE ${root}/tree/a.txt "2\n")
tag_of(${root}/tree tag)
expect("with a change" "${tag}" "9.8.7 (${revision}+)")

file(REMOVE_RECURSE ${root})
