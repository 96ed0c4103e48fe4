# korva_module(NAME DEPS...): the static library korva_NAME from core/NAME/*.cpp.
# Sources are globbed so that a new file needs no edit here.
function(korva_module name)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/core/${name}/*.cpp)
  set(deps)
  foreach(dep IN LISTS ARGN)
    list(APPEND deps korva_${dep})
  endforeach()
  if(sources)
    add_library(korva_${name} STATIC ${sources})
    target_include_directories(korva_${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(korva_${name} PUBLIC korva_flags ${deps})
  else()
    add_library(korva_${name} INTERFACE)
    target_include_directories(korva_${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(korva_${name} INTERFACE korva_flags ${deps})
  endif()
endfunction()

# The data installed with the program is found relative to the folder of its
# executable (bin/../share/korva by default), so an installed tree can be
# moved and nothing of the build machine is compiled in.
include(GNUInstallDirs)
file(RELATIVE_PATH KORVA_DATA_FROM_BIN ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_DATADIR}/korva)
function(korva_data_dirs target)
  target_compile_definitions(${target} PRIVATE KORVA_DATA_FROM_BIN="${KORVA_DATA_FROM_BIN}")
endfunction()

# Binaries run from `folder` of the build tree find the source tree's data
# where an installed one finds its own: a link stands there.
function(korva_build_tree_data_link folder)
  cmake_path(APPEND folder ${KORVA_DATA_FROM_BIN} OUTPUT_VARIABLE link)
  cmake_path(NORMAL_PATH link)
  cmake_path(IS_PREFIX PROJECT_BINARY_DIR ${link} inside)
  if(NOT inside)
    message(WARNING "The data folder ${KORVA_DATA_FROM_BIN} lies outside the build tree: binaries "
                    "run from the build tree need KORVA_DATA_DIR")
    return()
  endif()
  cmake_path(GET link PARENT_PATH parent)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/data ${link} SYMBOLIC)
endfunction()
