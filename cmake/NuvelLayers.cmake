# The layering rule, checked at every configure: includes point downward only
# (app -> ui -> platform -> model -> NuvelKit), and neither the core nor the model includes Qt.
# Compiling without Qt's include paths catches a Qt header in a listed source; this also catches
# headers and an include of a higher layer, which would compile but tie the layers together.

# Adds to `broken` (in the caller) every include in FOLDER's sources that matches PATTERN.
function(nuvel_forbid_includes folder pattern)
  file(GLOB_RECURSE files ${PROJECT_SOURCE_DIR}/${folder}/*.hpp ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  set(found ${broken})
  foreach(f IN LISTS files)
    file(STRINGS ${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*${pattern}")
    foreach(line IN LISTS lines)
      file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR} ${f})
      list(APPEND found "  ${name}: ${line}")
    endforeach()
  endforeach()
  set(broken ${found} PARENT_SCOPE)
endfunction()

# Fails the configuration, naming each include that breaks the rule.
function(nuvel_check_layers)
  set(broken)
  set(qt "<Qt?[A-Za-z]*[>/]")
  nuvel_forbid_includes(NuvelKit "\"Nuvel/")
  nuvel_forbid_includes(NuvelKit "${qt}")
  nuvel_forbid_includes(Nuvel/model "\"Nuvel/(platform|ui|app)/")
  nuvel_forbid_includes(Nuvel/model "${qt}")
  nuvel_forbid_includes(Nuvel/platform "\"Nuvel/(ui|app)/")
  nuvel_forbid_includes(Nuvel/ui "\"Nuvel/app/")
  if(broken)
    list(JOIN broken "\n" text)
    message(FATAL_ERROR "Includes that run against the layers:\n${text}")
  endif()
endfunction()
