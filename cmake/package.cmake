# What an installation holds beside the programs (the program, the help text
# and the pictures are installed where they are built): the desktop entry,
# the icon, the manual pages, the copyright file and the changelog; and the
# Debian package made of it all with CPack (scripts/package).
install(FILES assets/skydome.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES assets/skydome.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)

# The maintainer, as Debian's tools take it: the name from DEBFULLNAME, else
# NAME, else the user's full name; the address from DEBEMAIL (which may be
# "Name <address>"), else EMAIL, else user@host.
function(kv_maintainer out)
  set(name "$ENV{DEBFULLNAME}")
  set(mail "$ENV{DEBEMAIL}")
  if(mail MATCHES "^(.*[^ ]) *<([^>]+)>$")
    if(name STREQUAL "")
      set(name "${CMAKE_MATCH_1}")
    endif()
    set(mail "${CMAKE_MATCH_2}")
  endif()
  if(name STREQUAL "")
    set(name "$ENV{NAME}")
  endif()
  if(mail STREQUAL "")
    set(mail "$ENV{EMAIL}")
  endif()
  execute_process(COMMAND id -un OUTPUT_VARIABLE user OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(name STREQUAL "")
    execute_process(COMMAND getent passwd "${user}" OUTPUT_VARIABLE entry OUTPUT_STRIP_TRAILING_WHITESPACE
                    ERROR_QUIET)
    if(entry MATCHES "^[^:]*:[^:]*:[^:]*:[^:]*:([^:,]*)")
      set(name "${CMAKE_MATCH_1}")
    endif()
    if(name STREQUAL "")
      set(name "${user}")
    endif()
  endif()
  if(mail STREQUAL "")
    set(host "")
    if(EXISTS /etc/mailname)
      file(STRINGS /etc/mailname host LIMIT_COUNT 1)
    endif()
    if(host STREQUAL "")
      execute_process(COMMAND hostname --fqdn OUTPUT_VARIABLE host OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
    set(mail "${user}@${host}")
  endif()
  # Said when a package is made (scripts/package): other builds need no maintainer.
  if(KV_PACKAGING AND (NOT mail MATCHES "@[^@]+\\.[^@.]+$" OR mail MATCHES "@localhost" OR name STREQUAL "root"))
    message(WARNING "The package's maintainer would be ${name} <${mail}>, an address no one can write to: "
                    "set DEBFULLNAME and DEBEMAIL (lintian refuses the package otherwise).")
  endif()
  set(${out} "${name} <${mail}>" PARENT_SCOPE)
endfunction()
kv_maintainer(KV_MAINTAINER)

# The Debian copyright file, made from LICENSE: its copyright line, then its
# text as the licence's paragraph (a blank line is " .").
file(READ ${CMAKE_SOURCE_DIR}/LICENSE KV_LICENSE)
if(NOT KV_LICENSE MATCHES "Copyright \\(c\\) ([^\n]+)\n+(.*[^\n])\n*$")
  message(FATAL_ERROR "LICENSE has no line \"Copyright (c) ...\" followed by its text")
endif()
set(KV_COPYRIGHT_HOLDERS "${CMAKE_MATCH_1}")
string(REPLACE "\n" "\n " KV_LICENSE_TEXT " ${CMAKE_MATCH_2}")
string(REPLACE "\n \n" "\n .\n" KV_LICENSE_TEXT "${KV_LICENSE_TEXT}")
set(KV_DOC_DIR ${CMAKE_BINARY_DIR}/doc)
file(WRITE ${KV_DOC_DIR}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: ${PROJECT_NAME}\n"
     "\n"
     "Files: *\n"
     "Copyright: ${KV_COPYRIGHT_HOLDERS}\n"
     "License: Expat\n"
     "\n"
     "Files: usr/share/kv3skydome/stars.dat\n"
     "Copyright: public domain\n"
     "License: public-domain\n"
     " The Yale Bright Star Catalogue, 5th revised edition (Hoffleit & Warren 1991;\n"
     " catalogue V/50 of the astronomical data centres), is a public-domain data\n"
     " set. The build turns the copy that Debian's xplanet package carries\n"
     " (usr/share/xplanet/stars/BSC: the places, V magnitudes and HR numbers)\n"
     " into this file.\n"
     "\n"
     "License: Expat\n"
     "${KV_LICENSE_TEXT}\n")

# The changelog: its newest entry is this version's, signed by the maintainer.
file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/changelog.in KV_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT KV_CHANGELOG_TOP MATCHES "^skydome \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "cmake/changelog.in has no entry for ${PROJECT_VERSION} at its top: add one")
endif()
configure_file(cmake/changelog.in ${KV_DOC_DIR}/changelog @ONLY)
# Debian's doc files are compressed the reproducible way: no name, no time.
add_custom_command(OUTPUT ${KV_DOC_DIR}/changelog.gz
  COMMAND gzip -9nfk ${KV_DOC_DIR}/changelog
  DEPENDS ${KV_DOC_DIR}/changelog
  VERBATIM)

# The release date, for the manual pages' dates: the changelog's, so that a
# build made later makes the same pages.
file(STRINGS ${KV_DOC_DIR}/changelog KV_CHANGELOG_SIGNED REGEX "^ -- ")
list(GET KV_CHANGELOG_SIGNED 0 KV_CHANGELOG_SIGNED)
string(REGEX REPLACE "^.*>  " "" KV_RELEASE_DATE "${KV_CHANGELOG_SIGNED}")
execute_process(COMMAND date -u -d "${KV_RELEASE_DATE}" +%s OUTPUT_VARIABLE KV_RELEASE_EPOCH
                OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "The changelog's date \"${KV_RELEASE_DATE}\" cannot be read")
endif()

if(KV_MANUALS)
  # Manual pages of the installed programs, made from their --help and
  # --version by help2man (Debian's package of it): one source for each.
  find_program(KV_HELP2MAN help2man)
  if(NOT KV_HELP2MAN)
    message(FATAL_ERROR "help2man is missing: scripts/setup installs it (Debian's package help2man)")
  endif()
  set(KV_MAN_DIR ${CMAKE_BINARY_DIR}/man)
  set(KV_MAN_PAGES)
  # skydome's keys, mouse, examples and files: from its help page.
  set(KV_MAN_SECTIONS ${KV_MAN_DIR}/skydome.h2m)
  add_custom_command(OUTPUT ${KV_MAN_SECTIONS}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KV_MAN_DIR}
    COMMAND ${CMAKE_COMMAND} -DPAGE=${KV_HELP_PAGE} -DOUTPUT=${KV_MAN_SECTIONS} -P
            ${CMAKE_SOURCE_DIR}/cmake/man_sections.cmake
    DEPENDS ${KV_HELP_PAGE} ${CMAKE_SOURCE_DIR}/cmake/man_sections.cmake
    COMMENT "Writing the keys, mouse, examples and files of skydome's manual page from its help page"
    VERBATIM)
  foreach(page "skydome|interactive sky-dome creator on a real-time 3D engine"
               "kvdump|print and check the chunk tree of saved domes and other chunk files"
               "kvimage|read a picture as the sky-dome creator reads its textures, write it as PNG")
    string(REPLACE "|" ";" page "${page}")
    list(GET page 0 program)
    list(GET page 1 summary)
    set(include)
    set(includeDepends)
    if(program STREQUAL "skydome")
      set(include "--include=${KV_MAN_SECTIONS}")
      set(includeDepends ${KV_MAN_SECTIONS})
    endif()
    add_custom_command(OUTPUT ${KV_MAN_DIR}/${program}.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KV_MAN_DIR}
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${KV_RELEASE_EPOCH} ${KV_HELP2MAN} --no-info
              "--name=${summary}" ${include} --output=${KV_MAN_DIR}/${program}.1 $<TARGET_FILE:${program}>
      COMMAND gzip -9nf ${KV_MAN_DIR}/${program}.1
      DEPENDS ${program} ${includeDepends}
      COMMENT "Writing the manual page of ${program} from its --help"
      VERBATIM)
    list(APPEND KV_MAN_PAGES ${KV_MAN_DIR}/${program}.1.gz)
  endforeach()
  # skyset is a script: its page from its --help, its version the module's it
  # runs on (the one just built).
  if(KV_PYTHON_MODULE)
    add_custom_command(OUTPUT ${KV_MAN_DIR}/skyset.1.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KV_MAN_DIR}
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${KV_RELEASE_EPOCH} PYTHONPATH=$<TARGET_FILE_DIR:kvsky>
              ${KV_HELP2MAN} --no-info "--name=make sets of sky panoramas on a Dask cluster"
              --output=${KV_MAN_DIR}/skyset.1 ${CMAKE_SOURCE_DIR}/tools/skyset/skyset
      COMMAND gzip -9nf ${KV_MAN_DIR}/skyset.1
      DEPENDS ${CMAKE_SOURCE_DIR}/tools/skyset/skyset kvsky
      COMMENT "Writing the manual page of skyset from its --help"
      VERBATIM)
    list(APPEND KV_MAN_PAGES ${KV_MAN_DIR}/skyset.1.gz)
  endif()
  add_custom_target(manual_pages ALL DEPENDS ${KV_MAN_PAGES})
  install(FILES ${KV_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
add_custom_target(changelog ALL DEPENDS ${KV_DOC_DIR}/changelog.gz)
install(FILES ${KV_DOC_DIR}/copyright ${KV_DOC_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/skydome)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME skydome)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "KV3")
set(CPACK_PACKAGE_CONTACT "${KV_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KV_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interactive sky-dome creator on a real-time 3D engine")
# Lines of at most 80 columns, as dpkg shows them.
set(CPACK_PACKAGE_DESCRIPTION
    "Computes the clear sky with an analytic daylight model, or with a physical\n"
    "atmosphere that has twilight, shows it on a dome from outside or from its\n"
    "centre, and saves the dome, glTF models, panoramas and cube maps. Comes with\n"
    "kvdump (chunk files) and kvimage (pictures), the Python module kvsky (skies\n"
    "as NumPy arrays and files) and skyset (sets of skies made on a Dask cluster).")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The libraries the programs link are found by dpkg-shlibdeps; OpenGL itself
# comes through SDL at run time: Mesa's drivers, on screen or off it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgl1-mesa-dri, libegl1, libegl-mesa0")
# The Python module is built for one version of Debian's python3 (its ABI is
# in its name); skyset needs Dask and YAML besides, which the program does not.
if(KV_PYTHON_MODULE)
  math(EXPR KV_PYTHON_NEXT "${Python3_VERSION_MINOR} + 1")
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
         ", python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~),"
         " python3 (<< ${Python3_VERSION_MAJOR}.${KV_PYTHON_NEXT}), python3-numpy")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-dask, python3-distributed, python3-yaml")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
