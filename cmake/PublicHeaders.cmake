# docindex_public_headers(<target> [HEADERS <file>...])
#
# Publishes the headers of a library defined in the current folder, to be included as
# "<folder>/<file>": links to them in include/<target>/<folder>/ under the build tree, which
# becomes the target's public include path. Without HEADERS the whole folder is published (a
# folder that holds one library); with HEADERS only those files (a folder shared by libraries of
# different layers, so that for example the Qt-Core-only listing cannot see the widgets).
function(docindex_public_headers target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "HEADERS")
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  if(arg_HEADERS)
    file(MAKE_DIRECTORY ${root}/${folder})
    foreach(header IN LISTS arg_HEADERS)
      if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${header})
        message(FATAL_ERROR "${target}: no header ${folder}/${header}")
      endif()
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${root}/${folder}/${header} SYMBOLIC)
    endforeach()
  else()
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
