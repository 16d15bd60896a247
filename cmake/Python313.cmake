# Finds the CPython 3.13 interpreter and development files, and refuses any
# other version: the extension modules are built for 3.13 only.
if(NOT DEFINED Python_EXECUTABLE AND NOT DEFINED ENV{Python_EXECUTABLE})
  set(_candidates)
  find_program(_python313 NAMES python3.13 NO_CACHE)
  if(_python313)
    list(APPEND _candidates "${_python313}")
  endif()
  set(_pyenv_root "$ENV{PYENV_ROOT}")
  if(NOT _pyenv_root)
    set(_pyenv_root "$ENV{HOME}/.pyenv")
  endif()
  file(GLOB _pyenv_pythons "${_pyenv_root}/versions/3.13*/bin/python3.13")
  list(SORT _pyenv_pythons COMPARE NATURAL ORDER DESCENDING)
  list(APPEND _candidates ${_pyenv_pythons})
  foreach(_candidate IN LISTS _candidates)
    # pyenv's shim exists even when 3.13 is not selected; it must really run.
    execute_process(COMMAND "${_candidate}" -c "import sys; sys.exit(sys.version_info[:2] != (3, 13))"
                    RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_QUIET)
    if(_rc EQUAL 0)
      set(Python_EXECUTABLE "${_candidate}" CACHE FILEPATH "CPython 3.13 interpreter")
      break()
    endif()
  endforeach()
endif()

find_package(Python REQUIRED COMPONENTS Interpreter Development.Module)
if(NOT Python_VERSION_MAJOR EQUAL 3 OR NOT Python_VERSION_MINOR EQUAL 13)
  message(FATAL_ERROR
    "vantrel builds for CPython 3.13 only, but found Python ${Python_VERSION} "
    "(${Python_EXECUTABLE}). Point -DPython_EXECUTABLE at a python3.13.")
endif()

execute_process(COMMAND "${Python_EXECUTABLE}" -m pybind11 --cmakedir
                OUTPUT_VARIABLE VANTREL_PYBIND11_CMAKEDIR OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET)
