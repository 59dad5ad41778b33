# tessivar_warnings(<target>): the project's warning set, applied per target.
function(tessivar_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Wunused -Woverloaded-virtual -Wnull-dereference -Wformat=2)
  # TESSIVAR_WERROR: a warning in the project's own code fails the build (scripts/build).
  if(TESSIVAR_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
