# VJXFlash.exe, the Windows program, cross-built with MinGW-w64 as an
# external project of its own (app/windows/CMakeLists.txt) whenever the
# cross compiler is installed. The sanitizer build leaves it out: the
# program itself is the same there, and its Windows paths run natively in
# the Windows variant's native tests (tests/windows).
find_program(VJX_MINGW_CXX x86_64-w64-mingw32-g++-posix)
set(VJX_WINDOWS_BINARY_DIR ${CMAKE_BINARY_DIR}/windows)
set(VJX_WINDOWS_EXE ${VJX_WINDOWS_BINARY_DIR}/bin/VJXFlash.exe)
# The same program on simulated cards (run it with `vjxsim run RACK -- wine ...`).
set(VJX_WINDOWS_SIM_EXE ${VJX_WINDOWS_BINARY_DIR}/bin/VJXFlashSimulatedCards.exe)
set(VJX_WINDOWS_GUI_DRIVER ${VJX_WINDOWS_BINARY_DIR}/bin/vjxgui.exe)

if(VJX_MINGW_CXX AND NOT VJX_SANITIZE)
  set(VJX_HAVE_WINDOWS_PROGRAM ON)
  include(ExternalProject)
  set(launcher_args)
  if(CMAKE_CXX_COMPILER_LAUNCHER)
    list(APPEND launcher_args -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER})
  elseif(DEFINED ENV{CMAKE_CXX_COMPILER_LAUNCHER})
    list(APPEND launcher_args -DCMAKE_CXX_COMPILER_LAUNCHER=$ENV{CMAKE_CXX_COMPILER_LAUNCHER})
  endif()
  ExternalProject_Add(vjxflash_windows
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/app/windows
    BINARY_DIR ${VJX_WINDOWS_BINARY_DIR}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
      -DCMAKE_BUILD_TYPE=Release
      -DVJX_ROOT=${CMAKE_SOURCE_DIR}
      ${launcher_args}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${VJX_WINDOWS_EXE} ${VJX_WINDOWS_SIM_EXE} ${VJX_WINDOWS_GUI_DRIVER})
else()
  set(VJX_HAVE_WINDOWS_PROGRAM OFF)
  if(NOT VJX_MINGW_CXX)
    message(STATUS "x86_64-w64-mingw32-g++-posix not found: VJXFlash.exe is not built")
  endif()
endif()
