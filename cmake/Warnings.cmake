# Every target of ours compiles warning-free with -Wall -Wextra. The project's
# own test builds (scripts/test.sh and the stage scripts) turn warnings into
# errors with -DRAWCONV_WERROR=ON; a user's build, perhaps with a newer
# compiler that warns about more, never fails on a warning.
option(RAWCONV_WERROR "Treat compiler warnings as errors (the project's own test builds)" OFF)

function(rawconv_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${RAWCONV_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${RAWCONV_WERROR}>:-Werror>)
  endif()
endfunction()
