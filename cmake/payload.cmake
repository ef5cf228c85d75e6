# The payload: the files that resources 1005 and up carry and the manifest (resource 999) that names them.
#
# By default the project builds stand-ins for the module's files in payload/: the 32-bit files with the
# i686 compiler, the 64-bit files with the x86_64 compiler, whichever target this configure is for, so
# each build's OrlynRepair.exe carries the full payload. ORLYN_PAYLOAD_DIR names a folder of real files
# to embed instead; it must hold every file that the manifest names (field 2 of each row).
#
# Either way the embedded files are gathered in ${CMAKE_BINARY_DIR}/payload (tests compare against them)
# and generated/payload_files.rc lists one RCDATA resource per manifest row; resources/payload.rc
# includes it.
set(ORLYN_PAYLOAD_DIR "" CACHE PATH "Folder of the module's real files to embed instead of the stand-ins")
set(ORLYN_PAYLOAD_MANIFEST ${CMAKE_SOURCE_DIR}/resources/payload_manifest.txt)
set(ORLYN_PAYLOAD_OUT ${CMAKE_BINARY_DIR}/payload)
file(MAKE_DIRECTORY ${ORLYN_PAYLOAD_OUT})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ORLYN_PAYLOAD_MANIFEST})

# Rows of the manifest: resource id and shipped file name (fields separated by runs of tabs).
file(READ ${ORLYN_PAYLOAD_MANIFEST} manifest_text)
string(REPLACE "\r" "" manifest_text "${manifest_text}")
string(REPLACE ";" "\\;" manifest_text "${manifest_text}")
string(REPLACE "\n" ";" manifest_lines "${manifest_text}")
set(ORLYN_PAYLOAD_IDS)
set(ORLYN_PAYLOAD_NAMES)
list(LENGTH manifest_lines line_count)
set(line_number 0)
foreach(line IN LISTS manifest_lines)
  math(EXPR line_number "${line_number} + 1")
  if(line STREQUAL "")
    # The program refuses a manifest with a blank line; only the split after the last line end is empty.
    if(NOT line_number EQUAL line_count)
      message(FATAL_ERROR "payload manifest: line ${line_number} is blank; the program would refuse it")
    endif()
    continue()
  endif()
  string(REGEX MATCH "^([0-9]+)\t+([^\t]+)\t" row "${line}")
  if(NOT row)
    message(FATAL_ERROR "payload manifest: cannot read the resource and file name of the row '${line}'")
  endif()
  list(APPEND ORLYN_PAYLOAD_IDS ${CMAKE_MATCH_1})
  list(APPEND ORLYN_PAYLOAD_NAMES ${CMAKE_MATCH_2})
endforeach()

set(ORLYN_PAYLOAD_FILES)
if(ORLYN_PAYLOAD_DIR)
  set(missing)
  foreach(name IN LISTS ORLYN_PAYLOAD_NAMES)
    if(NOT EXISTS "${ORLYN_PAYLOAD_DIR}/${name}" OR IS_DIRECTORY "${ORLYN_PAYLOAD_DIR}/${name}")
      list(APPEND missing ${name})
    endif()
  endforeach()
  if(missing)
    list(JOIN missing ", " missing_text)
    message(FATAL_ERROR "ORLYN_PAYLOAD_DIR (${ORLYN_PAYLOAD_DIR}) lacks files that "
                        "resources/payload_manifest.txt names: ${missing_text}")
  endif()
  foreach(name IN LISTS ORLYN_PAYLOAD_NAMES)
    add_custom_command(OUTPUT ${ORLYN_PAYLOAD_OUT}/${name}
      COMMAND ${CMAKE_COMMAND} -E copy "${ORLYN_PAYLOAD_DIR}/${name}" ${ORLYN_PAYLOAD_OUT}/${name}
      DEPENDS "${ORLYN_PAYLOAD_DIR}/${name}"
      COMMENT "Payload: ${name} from ${ORLYN_PAYLOAD_DIR}" VERBATIM)
    list(APPEND ORLYN_PAYLOAD_FILES ${ORLYN_PAYLOAD_OUT}/${name})
  endforeach()
else()
  find_program(ORLYN_PAYLOAD_CXX_I686 i686-w64-mingw32-g++-posix REQUIRED)
  find_program(ORLYN_PAYLOAD_CXX_X86_64 x86_64-w64-mingw32-g++-posix REQUIRED)
  find_program(ORLYN_PAYLOAD_WINDRES_I686 i686-w64-mingw32-windres REQUIRED)
  set(src ${CMAKE_SOURCE_DIR}/payload)
  set(flags -std=c++17 -Os -s -static -Wl,--no-insert-timestamp -Wall -Wextra -Werror -DUNICODE -D_UNICODE)
  set(dll_flags ${flags} -shared -Wl,--kill-at)

  # Stand-in NAME: the compiler, the sources and the extra flags that make it.
  set(standin_TSL.exe ${ORLYN_PAYLOAD_CXX_I686} ${src}/tsl_main.cpp ${flags} -municode -mwindows -lshell32)
  set(standin_TSL64.exe ${ORLYN_PAYLOAD_CXX_X86_64} ${src}/tsl_main.cpp ${flags} -municode -mwindows
      "-DTSL_TITLE=L\"Tessel Hub (x64)\"" -lshell32)
  set(standin_TSLDll.dll ${ORLYN_PAYLOAD_CXX_I686} ${src}/tsl_dll.cpp ${dll_flags} "-DTSL_DLL_NAME=L\"TSLDll\"")
  set(standin_TSLDll64.dll ${ORLYN_PAYLOAD_CXX_X86_64} ${src}/tsl_dll.cpp ${dll_flags}
      "-DTSL_DLL_NAME=L\"TSLDll64\"")
  set(standin_kessvald.dll ${ORLYN_PAYLOAD_CXX_I686} ${src}/tsl_dll.cpp ${dll_flags}
      "-DTSL_DLL_NAME=L\"kessvald\"")
  set(standin_TSLResourceKR.dll ${ORLYN_PAYLOAD_CXX_I686} ${src}/tsl_dll.cpp ${dll_flags}
      "-DTSL_DLL_NAME=L\"TSLResourceKR\"" ${ORLYN_PAYLOAD_OUT}/tsl_resource_kr.o)

  add_custom_command(OUTPUT ${ORLYN_PAYLOAD_OUT}/tsl_resource_kr.o
    COMMAND ${ORLYN_PAYLOAD_WINDRES_I686} -c 65001 -O coff -o ${ORLYN_PAYLOAD_OUT}/tsl_resource_kr.o
            ${src}/tsl_resource_kr.rc
    DEPENDS ${src}/tsl_resource_kr.rc VERBATIM)

  foreach(name IN LISTS ORLYN_PAYLOAD_NAMES)
    set(out ${ORLYN_PAYLOAD_OUT}/${name})
    if(name STREQUAL "LICENSE.txt")
      add_custom_command(OUTPUT ${out} COMMAND ${CMAKE_COMMAND} -E copy ${src}/LICENSE.txt ${out}
        DEPENDS ${src}/LICENSE.txt COMMENT "Payload: stand-in ${name}" VERBATIM)
    elseif(DEFINED standin_${name})
      set(recipe ${standin_${name}})
      list(POP_FRONT recipe compiler)
      set(deps ${src}/tsl_main.cpp ${src}/tsl_dll.cpp)
      if(name STREQUAL "TSLResourceKR.dll")
        list(APPEND deps ${ORLYN_PAYLOAD_OUT}/tsl_resource_kr.o)
      endif()
      add_custom_command(OUTPUT ${out} COMMAND ${compiler} -o ${out} ${recipe}
        DEPENDS ${deps} COMMENT "Payload: stand-in ${name}" VERBATIM)
    else()
      message(FATAL_ERROR "The payload manifest names ${name}, for which there is no stand-in in payload/; "
                          "set ORLYN_PAYLOAD_DIR to a folder that holds it.")
    endif()
    list(APPEND ORLYN_PAYLOAD_FILES ${out})
  endforeach()
endif()

# One RCDATA resource per row, in the manifest's order.
set(rc_text "// Generated by cmake/payload.cmake from resources/payload_manifest.txt.\n")
foreach(id name IN ZIP_LISTS ORLYN_PAYLOAD_IDS ORLYN_PAYLOAD_NAMES)
  string(APPEND rc_text "${id} RCDATA \"${ORLYN_PAYLOAD_OUT}/${name}\"\n")
endforeach()
file(CONFIGURE OUTPUT ${ORLYN_GENERATED}/payload_files.rc CONTENT "${rc_text}")

add_custom_target(orlyn_payload DEPENDS ${ORLYN_PAYLOAD_FILES})
