# Every target of ours compiles warning-free with -Wall -Wextra; warnings fail the build.
function(rawconv_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  endif()
endfunction()
