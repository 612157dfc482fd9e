# Every program finds pendra-mdb-read, the confined program that reads
# Access files for it, beside itself: installed, both lie in the
# installation folder; in the build tree, each folder a program is built
# into gets a link to where the reading program is built. No program holds
# a path of the build tree, and none looks anywhere else.

function(pendra_collect_programs directory out)
  get_property(targets DIRECTORY "${directory}" PROPERTY BUILDSYSTEM_TARGETS)
  set(programs)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      list(APPEND programs ${target})
    endif()
  endforeach()
  get_property(subdirectories DIRECTORY "${directory}" PROPERTY SUBDIRECTORIES)
  foreach(subdirectory IN LISTS subdirectories)
    pendra_collect_programs("${subdirectory}" more)
    list(APPEND programs ${more})
  endforeach()
  set(${out} ${programs} PARENT_SCOPE)
endfunction()

function(pendra_reading_program_beside_every_program)
  get_target_property(reader_dir pendra-mdb-read BINARY_DIR)
  pendra_collect_programs("${PROJECT_SOURCE_DIR}" programs)
  foreach(program IN LISTS programs)
    if(program STREQUAL "pendra-mdb-read")
      continue()
    endif()
    get_target_property(dir ${program} RUNTIME_OUTPUT_DIRECTORY)
    if(NOT dir)
      get_target_property(dir ${program} BINARY_DIR)
    endif()
    if(NOT dir STREQUAL reader_dir)
      # Relative, so that the build tree still works when it is moved.
      file(MAKE_DIRECTORY "${dir}")
      file(RELATIVE_PATH target "${dir}" "${reader_dir}/pendra-mdb-read")
      file(CREATE_LINK "${target}" "${dir}/pendra-mdb-read" SYMBOLIC)
    endif()
    add_dependencies(${program} pendra-mdb-read)
  endforeach()
endfunction()
