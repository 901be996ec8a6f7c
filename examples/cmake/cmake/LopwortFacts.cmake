# lopwort_facts(NAME TARGETS target... [OUTPUT file]) adds the target NAME,
# which writes the lopwort facts of the targets' sources to OUTPUT (default
# NAME.ta in the build directory). Each source gets a step of its own,
# `lopwort-facts --unit`, whose fragment is made again whenever the target
# that compiles it is rebuilt (its unchanged units come from lopwort-facts'
# cache); the merge, `lopwort-facts --merge`, reads them all. The project
# must set CMAKE_EXPORT_COMPILE_COMMANDS, which the steps read. A source
# that several targets compile is extracted once, with the first entry the
# database holds for it.
find_program(LOPWORT_FACTS lopwort-facts REQUIRED)

function(lopwort_facts name)
  cmake_parse_arguments(LF "" "OUTPUT" "TARGETS" ${ARGN})
  if(NOT LF_OUTPUT)
    set(LF_OUTPUT ${CMAKE_BINARY_DIR}/${name}.ta)
  endif()
  set(database ${CMAKE_BINARY_DIR}/compile_commands.json)
  set(fragments)
  set(seen)
  foreach(target IN LISTS LF_TARGETS)
    get_target_property(sources ${target} SOURCES)
    get_target_property(dir ${target} SOURCE_DIR)
    foreach(source IN LISTS sources)
      get_filename_component(path ${source} ABSOLUTE BASE_DIR ${dir})
      if(NOT path MATCHES "\\.(c|cc|cp|cpp|cxx|c\\+\\+|C|CPP)$" OR path IN_LIST seen)
        continue()
      endif()
      list(APPEND seen ${path})
      file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${path})
      set(fragment ${CMAKE_BINARY_DIR}/lopwort-fragments/${relative}.fragment)
      get_filename_component(fragment_dir ${fragment} DIRECTORY)
      add_custom_command(OUTPUT ${fragment}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${fragment_dir}
        COMMAND ${LOPWORT_FACTS} --unit ${path} -o ${fragment} ${database}
        DEPENDS ${path} ${target}
        COMMENT "lopwort-facts --unit ${relative}"
        VERBATIM)
      list(APPEND fragments ${fragment})
    endforeach()
  endforeach()
  add_custom_command(OUTPUT ${LF_OUTPUT}
    COMMAND ${LOPWORT_FACTS} --merge -o ${LF_OUTPUT} ${fragments}
    DEPENDS ${fragments}
    COMMENT "lopwort-facts --merge"
    VERBATIM)
  add_custom_target(${name} DEPENDS ${LF_OUTPUT})
endfunction()
