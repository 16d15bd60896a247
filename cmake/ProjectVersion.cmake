# The project's version has one home: the version field of pyproject.toml's
# [project] table. scikit-build-core reads it and hands it over
# (SKBUILD_PROJECT_VERSION_FULL); a plain CMake build (the sanitized and
# fuzz builds) reads the file itself. Sets VANTREL_VERSION (the full text, which
# may carry a pre-release part) and VANTREL_VERSION_NUMBERS (its leading
# dotted numbers, at most four: all that project() accepts).
if(DEFINED VANTREL_PYPROJECT)
  set(_pyproject "${VANTREL_PYPROJECT}")
else()
  set(_pyproject "${CMAKE_CURRENT_LIST_DIR}/../pyproject.toml")
endif()
if(NOT CMAKE_SCRIPT_MODE_FILE)
  # A plain build configures again when the version changes.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_pyproject}")
endif()

# The _FULL one is the text as written (pre-release part included); the
# other has its numbers only.
if(DEFINED SKBUILD_PROJECT_VERSION_FULL AND NOT SKBUILD_PROJECT_VERSION_FULL STREQUAL "")
  set(VANTREL_VERSION "${SKBUILD_PROJECT_VERSION_FULL}")
elseif(DEFINED SKBUILD_PROJECT_VERSION AND NOT SKBUILD_PROJECT_VERSION STREQUAL "")
  set(VANTREL_VERSION "${SKBUILD_PROJECT_VERSION}")
else()
  # Only the [project] table's own key counts: other tables have keys named
  # version too (minimum-version, cmake.version).
  file(STRINGS "${_pyproject}" _lines)
  set(_table "")
  set(VANTREL_VERSION "")
  foreach(_line IN LISTS _lines)
    if(_line MATCHES "^[ \t]*\\[([^]]*)\\]")
      set(_table "${CMAKE_MATCH_1}")
    elseif(_table STREQUAL "project" AND _line MATCHES "^[ \t]*version[ \t]*=[ \t]*[\"']([^\"']+)[\"']")
      set(VANTREL_VERSION "${CMAKE_MATCH_1}")
      break()
    endif()
  endforeach()
  if(VANTREL_VERSION STREQUAL "")
    message(FATAL_ERROR "no version = \"...\" in the [project] table of ${_pyproject}")
  endif()
endif()

if(NOT VANTREL_VERSION MATCHES "^([0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?)")
  message(FATAL_ERROR "the version '${VANTREL_VERSION}' does not begin with numbers")
endif()
set(VANTREL_VERSION_NUMBERS "${CMAKE_MATCH_1}")
unset(_pyproject)
unset(_lines)
unset(_line)
unset(_table)
