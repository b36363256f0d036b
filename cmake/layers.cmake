# The daemon's code is one static library per folder, tarnel_<folder>, in
# layers: a folder may use its own headers and those of the folders before
# it in this list, never one after it. Each library is linked to the one
# below it and sees only the headers of its own and the lower folders, so an
# include that points up a layer fails to compile, and no cycle between
# folders can form.
set(TARNEL_LAYERS platform subg params tags subgconfig upgrade backbone console app)

# Each layer's view of the source tree: a directory of links to its own and
# the lower folders, the library's only include path for the daemon's
# headers. Includes are written "folder/file.h" from the top of the tree.
set(TARNEL_LAYER_VIEWS ${CMAKE_BINARY_DIR}/layer_views)
file(REMOVE_RECURSE ${TARNEL_LAYER_VIEWS})
set(visible_folders)
foreach(layer ${TARNEL_LAYERS})
  list(APPEND visible_folders ${layer})
  file(MAKE_DIRECTORY ${TARNEL_LAYER_VIEWS}/${layer})
  foreach(folder ${visible_folders})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${TARNEL_LAYER_VIEWS}/${layer}/${folder} SYMBOLIC)
  endforeach()
endforeach()

# tarnel_layer(<folder> <source>...), called from the folder's own
# CMakeLists.txt. Besides the sources, the library compiles one file that
# includes every header of the folder, so that a header none of the
# folder's sources includes cannot point up unnoticed either.
function(tarnel_layer folder)
  list(FIND TARNEL_LAYERS ${folder} index)
  if(index LESS 0)
    message(FATAL_ERROR "${folder} is not in TARNEL_LAYERS")
  endif()
  file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/${folder}/*.h)
  set(all_headers "// Every header of ${folder}/, seen as its own folder's sources see them.\n")
  foreach(header ${headers})
    string(APPEND all_headers "#include \"${header}\"\n")
  endforeach()
  # Rewritten only when it changes, so that a new configure rebuilds nothing.
  set(header_check ${CMAKE_BINARY_DIR}/layer_checks/${folder}_headers.cpp)
  set(written "")
  if(EXISTS ${header_check})
    file(READ ${header_check} written)
  endif()
  if(NOT written STREQUAL all_headers)
    file(WRITE ${header_check} "${all_headers}")
  endif()

  add_library(tarnel_${folder} STATIC ${ARGN} ${header_check})
  target_include_directories(tarnel_${folder} PRIVATE ${TARNEL_LAYER_VIEWS}/${folder})
  if(index GREATER 0)
    math(EXPR below "${index} - 1")
    list(GET TARNEL_LAYERS ${below} lower)
    target_link_libraries(tarnel_${folder} PUBLIC tarnel_${lower})
  endif()
endfunction()
