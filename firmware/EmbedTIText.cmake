# cmake -DINPUT=file.txt -DOUTPUT=BuiltInImage.cpp -P EmbedTIText.cmake
#
# Turns the built-in firmware (a TI-Text file) into the compact image text
# and vector table that the bootloader host carries. Only well-formed files
# with program records below 0xFA00 or from 0xFE00 and one vector section are
# accepted (a line with an odd number of bytes is completed with FF, as the
# loader does): the build fails on anything else rather than embed a broken image.
if(NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "EmbedTIText: INPUT and OUTPUT are required")
endif()

file(STRINGS "${INPUT}" lines)
set(image "")
set(vectors "")
set(section "")
set(end_seen FALSE)
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(line MATCHES "^q")
    set(end_seen TRUE)
    break()
  elseif(line MATCHES "^@([0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f])$")
    math(EXPR address "0x${CMAKE_MATCH_1}")
    if(address GREATER_EQUAL 65504)      # 0xFFE0
      if(NOT address EQUAL 65504)
        message(FATAL_ERROR "EmbedTIText: the vector section must start at 0xFFE0")
      endif()
      set(section vectors)
    elseif(address GREATER_EQUAL 64000 AND address LESS 65024)  # 0xFA00 .. 0xFDFF
      message(FATAL_ERROR "EmbedTIText: data for the bootloader area at ${line}")
    else()
      set(section program)
      string(APPEND image "${line}")
    endif()
  elseif(line STREQUAL "")
  elseif(line MATCHES "^([0-9A-Fa-f][0-9A-Fa-f] )*[0-9A-Fa-f][0-9A-Fa-f]$")
    string(REPLACE " " ";" bytes "${line}")
    list(LENGTH bytes count)
    math(EXPR odd "${count} % 2")
    if(section STREQUAL "")
      message(FATAL_ERROR "EmbedTIText: data before an address: ${line}")
    endif()
    if(odd)
      string(APPEND line " FF")  # as the loader completes an odd line
    endif()
    # Low byte first in the file, high byte first in the image.
    string(REGEX REPLACE "([0-9A-Fa-f][0-9A-Fa-f]) ([0-9A-Fa-f][0-9A-Fa-f]) ?" "\\2\\1" words "${line}")
    if(section STREQUAL "program")
      string(APPEND image "${words}")
    else()
      string(APPEND vectors "${words}")
    endif()
  else()
    message(FATAL_ERROR "EmbedTIText: not a TI-Text line: ${line}")
  endif()
endforeach()

string(LENGTH "${vectors}" vector_chars)
if(NOT end_seen OR NOT vector_chars EQUAL 64)
  message(FATAL_ERROR "EmbedTIText: missing end line or not exactly 16 vectors")
endif()
string(LENGTH "${image}" image_length)

# 128 characters to a source line.
string(REPEAT "." 128 chunk)
string(REGEX REPLACE "(${chunk})" "\\1\"\n    \"" image_lines "${image}")
string(REGEX REPLACE "(....)" "0x\\1, " vector_words "${vectors}")

file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} by EmbedTIText.cmake. Do not edit.
#include \"BuiltInImage.h\"

const char kBuiltInImageText[] =
    \"${image_lines}\";

const uint32_t kBuiltInImageLength = ${image_length};
static_assert(sizeof kBuiltInImageText == ${image_length} + 1);

const uint32_t kBuiltInVectors[16] = {${vector_words}};
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
