# Which TI-Text file the build embeds, and what it is for.
#
# kelo_builtin_image(FILE TARGET_WORD) checks that FILE loads (the same
# checks as EmbedTIText.cmake) and that its name, MODEL-M-mp.txt, names the
# build's target TARGET_WORD and a version. On success it sets, in the
# caller's scope, KELO_IMAGE_VERSION (352 for R7F-3-52.txt) and
# KELO_IMAGE_LABEL ("3.52"); on failure configuring stops with the reason.
#
# Run as a script (cmake -DIMAGE=FILE -DTARGET_WORD=R7F -P BuiltInImage.cmake)
# it only checks, so that the check itself can be tested.
set(KELO_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/EmbedTIText.cmake)

function(kelo_builtin_image file target_word)
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    message(FATAL_ERROR "KELO_BUILTIN_IMAGE: ${file} is not a file")
  endif()
  get_filename_component(name "${file}" NAME_WE)
  string(TOUPPER "${name}" upper)
  if(NOT upper MATCHES "^([A-Z0-9]+)-([0-9])-([0-9])([0-9])$")
    message(FATAL_ERROR "KELO_BUILTIN_IMAGE: the file name must be ${target_word}-M-mp.txt "
                        "(for example ${target_word}-3-52.txt for version 3.52), not ${name}")
  endif()
  if(NOT CMAKE_MATCH_1 STREQUAL target_word)
    message(FATAL_ERROR "KELO_BUILTIN_IMAGE: ${name} is firmware for a ${CMAKE_MATCH_1}; "
                        "this build updates the ${target_word}")
  endif()
  set(major ${CMAKE_MATCH_2})
  set(minor ${CMAKE_MATCH_3})
  set(patch ${CMAKE_MATCH_4})
  # Load it the way the build will, into a scratch file.
  string(RANDOM LENGTH 8 scratch)
  set(scratch "${CMAKE_CURRENT_BINARY_DIR}/kelo-image-check-${scratch}.cpp")
  execute_process(COMMAND ${CMAKE_COMMAND} -DINPUT=${file} -DOUTPUT=${scratch} -P ${KELO_EMBED_SCRIPT}
                  RESULT_VARIABLE failed ERROR_VARIABLE why OUTPUT_QUIET)
  file(REMOVE "${scratch}")
  if(failed)
    string(STRIP "${why}" why)
    message(FATAL_ERROR "KELO_BUILTIN_IMAGE: ${file} does not load as a firmware image:\n${why}")
  endif()
  math(EXPR version "${major} * 100 + ${minor} * 10 + ${patch}")
  set(KELO_IMAGE_VERSION ${version} PARENT_SCOPE)
  set(KELO_IMAGE_LABEL "${major}.${minor}${patch}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  kelo_builtin_image("${IMAGE}" "${TARGET_WORD}")
  message(STATUS "${IMAGE}: version ${KELO_IMAGE_LABEL}")
endif()
