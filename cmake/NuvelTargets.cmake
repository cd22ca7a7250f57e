# Helpers shared by every target of the project.

# Our own code is warning-free; third-party headers come in as SYSTEM includes. The project's
# presets (and so CI) make warnings errors; a packager's configuration with another compiler or
# optimisation level only shows them, since a new compiler's false positive must not stop a build.
function(nuvel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-missing-field-initializers)
  if(NUVEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# A static library of our own; it may still be empty while its folder is being filled.
function(nuvel_add_library name)
  set(anchor ${CMAKE_CURRENT_BINARY_DIR}/${name}_anchor.cpp)
  if(NOT EXISTS ${anchor})
    file(WRITE ${anchor} "// Keeps the library non-empty.\nnamespace nuvel { void ${name}_anchor() {} }\n")
  endif()
  add_library(${name} STATIC ${ARGN} ${anchor})
  nuvel_warnings(${name})
endfunction()
