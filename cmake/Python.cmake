# Finds what the korva Python package is built with: the interpreter, its
# headers and pybind11. Turns KORVA_BUILD_PYTHON off with a warning when one
# is missing.

# Debian's interpreter, whose packages (numpy, pandas, dask) the package and
# its tests use; an interpreter found earlier on PATH (pyenv, a virtualenv)
# may have none of them. -DPython3_EXECUTABLE=... chooses another.
if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "The Python interpreter korva is built for")
endif()
find_package(Python3 3.9 COMPONENTS Interpreter Development.Module)
if(Python3_FOUND)
  set(PYBIND11_FINDPYTHON ON)
  find_package(pybind11 2.6 CONFIG QUIET)
endif()
if(NOT Python3_FOUND OR NOT pybind11_FOUND)
  message(WARNING "Python 3 development files or pybind11 not found: the Python package is not "
                  "built (run scripts/setup)")
  set(KORVA_BUILD_PYTHON OFF)
  return()
endif()

# The extension is a shared object, so the core it links in must be
# position-independent; without semantic interposition the compiler still
# inlines across functions as in the programs.
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
add_compile_options(-fno-semantic-interposition)

# Where `cmake --install` puts the package, relative to the prefix: the
# interpreter's own site folder for that prefix (lib/python3.X/dist-packages
# under /usr/local on Debian, lib/python3/dist-packages under /usr).
execute_process(
  COMMAND ${Python3_EXECUTABLE} -c [=[
import os, site, sys, sysconfig
prefix = sys.argv[1]
for folder in site.getsitepackages():
    relative = os.path.relpath(folder, prefix)
    if not relative.startswith(("..", "local" + os.sep)):
        break
else:
    relative = os.path.relpath(
        sysconfig.get_path("platlib", vars={"base": prefix, "platbase": prefix}), prefix)
    relative = relative[len("local" + os.sep):] if relative.startswith("local" + os.sep) else relative
print(relative)
]=] ${CMAKE_INSTALL_PREFIX}
  OUTPUT_VARIABLE korva_python_site OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(KORVA_PYTHON_INSTALL_DIR ${korva_python_site}
    CACHE STRING "Where the korva package is installed, relative to the prefix")
