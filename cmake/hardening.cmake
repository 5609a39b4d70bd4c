# The distribution's hardening flags for the Debian package's build (scripts/package.sh turns it on):
# what dpkg-buildflags gives with every hardening feature asked for, so the programs get fortified
# functions, the strong stack protector, PIE, and read-only relocations bound at start (relro, now).
option(VEXAL_HARDENING "Build with the hardening flags of dpkg-buildflags (the Debian package)" OFF)
if(NOT VEXAL_HARDENING OR WIN32)
  return()
endif()
find_program(VEXAL_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                          ${VEXAL_DPKG_BUILDFLAGS} --get ${kind}
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  if(kind STREQUAL "LDFLAGS")
    add_link_options(${flags})
  else()
    add_compile_options(${flags})
  endif()
endforeach()
