# Warnings for our own targets; third-party headers come in as system includes.
function(vostrel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  if(VOSTREL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
