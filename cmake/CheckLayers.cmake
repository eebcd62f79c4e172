# The library's floors: no source under the low folders includes a header of
# lib/api, the floor of the public interfaces, the exports and the session
# state. Run as a test: cmake -DLIB_DIR=<lib> -P CheckLayers.cmake
#
# Files still waiting to be cut loose are listed in RAWCONV_LAYER_EXCEPTIONS;
# the check fails as soon as one of them no longer needs its entry, so the
# list only shrinks.
if(NOT LIB_DIR)
  message(FATAL_ERROR "LIB_DIR not set")
endif()

set(RAWCONV_LOW_FOLDERS io gpb ephem station obs sink qc select naming time meta)
set(RAWCONV_LAYER_EXCEPTIONS)

set(_failures "")
foreach(folder ${RAWCONV_LOW_FOLDERS})
  file(GLOB_RECURSE _files ${LIB_DIR}/${folder}/*.h ${LIB_DIR}/${folder}/*.cpp)
  foreach(path ${_files})
    file(RELATIVE_PATH _name ${LIB_DIR} ${path})
    file(STRINGS ${path} _includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]api/")
    list(FIND RAWCONV_LAYER_EXCEPTIONS ${_name} _excepted)
    if(_includes AND _excepted EQUAL -1)
      list(APPEND _failures "${_name} includes a header of lib/api: ${_includes}")
    elseif(NOT _includes AND NOT _excepted EQUAL -1)
      list(APPEND _failures "${_name} no longer includes lib/api: remove it from the exceptions")
    endif()
  endforeach()
endforeach()

if(_failures)
  string(REPLACE ";" "\n  " _text "${_failures}")
  message(FATAL_ERROR "Layering:\n  ${_text}")
endif()
message(STATUS "Layering: no low folder includes lib/api")
