# cmake -DSOURCE=<repository> -DWORK=<scratch folder> -P BuiltInImageCheck.cmake
#
# KELO_BUILTIN_IMAGE is checked when the build is configured: a file that
# does not load, or that is for another device, stops the configuration.
set(check ${SOURCE}/firmware/BuiltInImage.cmake)
set(demo ${SOURCE}/firmware/R7F-3-52.txt)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(READ ${demo} text)
file(WRITE ${WORK}/R7F-3-53.txt "${text}")              # a good image, version 3.53
file(WRITE ${WORK}/JV-1-05.txt "${text}")               # named for another device
string(REPLACE "\nq" "\n" unended "${text}")
file(WRITE ${WORK}/R7F-3-54.txt "${unended}")           # no end line: does not load
file(WRITE ${WORK}/R7F.txt "${text}")                   # no version in the name

# file | whether it passes | a part of what is printed
set(rows
  "R7F-3-53.txt|0|version 3.53"
  "JV-1-05.txt|1|is firmware for a JV"
  "R7F-3-54.txt|1|does not load"
  "R7F.txt|1|must be R7F-M-mp.txt")
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 name)
  list(GET row 1 fails)
  list(GET row 2 says)
  execute_process(COMMAND ${CMAKE_COMMAND} -DIMAGE=${WORK}/${name} -DTARGET_WORD=R7F -P ${check}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out WORKING_DIRECTORY ${WORK})
  if(fails)
    set(failed FALSE)
    if(result)
      set(failed TRUE)
    endif()
    if(NOT failed)
      message(FATAL_ERROR "${name} was accepted:\n${out}")
    endif()
  elseif(result)
    message(FATAL_ERROR "${name} was refused:\n${out}")
  endif()
  # CMake wraps its messages at a width, so a long path can push a line
  # break into the words looked for: compare with the white space folded.
  string(REGEX REPLACE "[ \t\r\n]+" " " flat "${out}")
  string(FIND "${flat}" "${says}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${name}: expected \"${says}\" in:\n${out}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK})
