# Folders are layers: protocol < console < serial < loader < front-ends. Each layer's library sees only
# itself and the layers below it. Its include directory in the build tree holds links to exactly those
# folders, so an #include that climbs a layer (or crosses to another front-end) fails to compile;
# scripts/check-layers.sh reads the same rule off the sources.
#
#   vexal_layer(TARGET FOLDER [LOWER_FOLDER...])
# TARGET must exist; FOLDER is the target's own folder, relative to the source root. A header-only
# (INTERFACE) library hands the directory to what links it; any other target uses it and hands it on.
# cli/ (the command-line helpers) is below every layer: the folders that may use it name it.
function(vexal_layer target folder)
  set(dir ${CMAKE_BINARY_DIR}/layers/${target})
  foreach(seen ${folder} ${ARGN})
    get_filename_component(parent ${dir}/${seen} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    if(NOT EXISTS ${dir}/${seen})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${seen} ${dir}/${seen} SYMBOLIC)
    endif()
  endforeach()
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${dir})
  else()
    target_include_directories(${target} PUBLIC ${dir})
  endif()
endfunction()
