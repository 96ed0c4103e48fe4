# The Debian package: `cpack -G DEB` in a build folder, or scripts/package.
# It holds whatever the install rules install, under /usr; the library
# dependencies are read from the binaries by dpkg-shlibdeps.

set(KORVA_PACKAGE_MAINTAINER "KORVA maintainers <maintainers@korva.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korva)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KORVA_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "hearing hazard of intense impulse noise from a model of the ear")
set(CPACK_PACKAGE_DESCRIPTION
    "KORVA judges how dangerous an intense impulsive sound (a rifle shot, a blast,
a starter pistol) is for human hearing. From a recorded pressure waveform it
computes the hazard of one exposure, in auditory risk units, with a model of
the ear canal, middle ear and cochlea, and from it the allowed number of
exposures for a warned and an unwarned listener. It also gives A-weighted
energy metrics, third-octave spectra and the waveform predicted under a
hearing protector. The package holds the window (korva), the command line
(korva-cli) and the data files.")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's start-up text falls back to Liberation Serif.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2")

# Dependencies that dpkg-shlibdeps cannot see in the binaries.
set(korva_package_depends)
# matio is loaded when the first MAT file is read, not linked.
get_filename_component(matio_file ${KORVA_MATIO_PATH} REALPATH)
execute_process(COMMAND dpkg -S ${matio_file} OUTPUT_VARIABLE matio_owner ERROR_QUIET)
if(matio_owner MATCHES "^([^:]+):")
  list(APPEND korva_package_depends ${CMAKE_MATCH_1})
endif()

# The korva Python package installs itself into the interpreter's site folder
# (lib/python3.X/dist-packages, on Debian's path under /usr as under
# /usr/local). The window and korva-cli need no Python, so the interpreter and
# the modules the package imports are only suggested; its extension module is
# built for one Python version.
set(korva_package_suggests)
if(TARGET korva_python)
  math(EXPR python_next "${Python3_VERSION_MINOR} + 1")
  list(APPEND korva_package_suggests
       "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR})"
       "python3 (<< ${Python3_VERSION_MAJOR}.${python_next})" python3-numpy python3-pandas
       python3-distributed)
  string(APPEND CPACK_PACKAGE_DESCRIPTION
         "\nThe korva Python package gives the same analyses from Python, and batch\n"
         "analysis of many files on threads or a Dask cluster.")
endif()
list(JOIN korva_package_suggests ", " CPACK_DEBIAN_PACKAGE_SUGGESTS)

list(JOIN korva_package_depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)

include(CPack)
