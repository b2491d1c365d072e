# Warnings for the project's own targets; third-party code is built without them.
function(corvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                         -Wno-sign-conversion)
endfunction()
