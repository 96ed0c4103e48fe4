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

# Where the program looks for its data files when the current folder has none.
include(GNUInstallDirs)
function(korva_data_dirs target)
  target_compile_definitions(${target} PRIVATE
    KORVA_INSTALL_DATA_DIR="${CMAKE_INSTALL_FULL_DATADIR}/korva"
    KORVA_SOURCE_DATA_DIR="${PROJECT_SOURCE_DIR}/data")
endfunction()
