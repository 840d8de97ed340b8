# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the staged files of every
# package; changes only the DEB's, into what Debian's policy asks of a
# package, so that lintian finds nothing to report:
#   - the manual pages compressed with gzip -9n (no name or time stamp in
#     the header, so the same files give the same package);
#   - /usr/share/doc/<package>/copyright in Debian's machine-readable format,
#     made from LICENSE;
#   - /usr/share/doc/<package>/changelog.gz (changelog.Debian.gz with a Debian
#     revision) in Debian's changelog format, made from NEWS;
#   - lintian's override for the static programs, with its reason.
# The TGZ and `cmake --install` keep the files as they are.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

if(CPACK_PACKAGING_INSTALL_PREFIX MATCHES "^/usr/local(/|$)")
  message(WARNING "The DEB installs under ${CPACK_PACKAGING_INSTALL_PREFIX}, which belongs to "
                  "the machine's administrator and no package: configure with "
                  "-DCMAKE_INSTALL_PREFIX=/usr (the release preset does).")
endif()
set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
# Debian's copyright file, changelog and lintian's overrides lie under
# /usr whatever the prefix.
set(doc "${CPACK_TEMPORARY_DIRECTORY}/usr/share/doc/${CPACK_DEBIAN_PACKAGE_NAME}")
set(news "${CPACK_ZOV_SOURCE_DIR}/NEWS")

function(gzip_in_place file)
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip -9n ${file} failed")
  endif()
endfunction()

file(GLOB pages "${root}/${CPACK_ZOV_MANDIR}/man1/*.1")
foreach(page IN LISTS pages)
  gzip_in_place("${page}")
endforeach()

# copyright: LICENSE is the MIT licence, which Debian names Expat; its
# text follows the copyright lines, each line indented, empty ones as ".".
file(STRINGS "${CPACK_ZOV_SOURCE_DIR}/LICENSE" holders REGEX "^Copyright ")
list(TRANSFORM holders REPLACE "^Copyright (\\([cC]\\) )?" "")
list(JOIN holders "\n " holders)
file(READ "${CPACK_ZOV_SOURCE_DIR}/LICENSE" licence)
string(REGEX REPLACE "^.*\nCopyright [^\n]*\n+" "" licence "${licence}")
string(STRIP "${licence}" licence)
string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " licence "${licence}")
file(WRITE "${doc}/copyright" "\
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: zov

Files: *
Copyright: ${holders}
License: Expat
 ${licence}
")

# changelog: one entry per release in NEWS, whose sections read
#   zov <version> (<words>[, <yyyy-mm-dd>])
#   ---------------
#   * one change,
#     continued.
# A release without a date is the one being made: it takes this build's
# time (SOURCE_DATE_EPOCH where set, as for every reproducible build) and
# the Debian revision.
set(changelog "")
set(entry "")
set(entries 0)
function(close_entry)
  if(entry STREQUAL "")
    return()
  endif()
  set(changelog "${changelog}${entry}\n -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${entry_date}\n\n"
      PARENT_SCOPE)
  set(entry "" PARENT_SCOPE)
endfunction()
file(STRINGS "${news}" lines)
set(revision "")
if(CPACK_DEBIAN_PACKAGE_RELEASE)
  set(revision "-${CPACK_DEBIAN_PACKAGE_RELEASE}")
endif()
foreach(line IN LISTS lines)
  if(line MATCHES "^zov ([0-9][^ ]*) \\((.*)\\)$")
    close_entry()
    math(EXPR entries "${entries} + 1")
    set(version "${CMAKE_MATCH_1}")
    if(CMAKE_MATCH_2 MATCHES "([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])$")
      execute_process(COMMAND date -R -u -d "${CMAKE_MATCH_1} 12:00"
        OUTPUT_VARIABLE entry_date OUTPUT_STRIP_TRAILING_WHITESPACE)
    else()
      string(TIMESTAMP entry_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
      string(APPEND version "${revision}")
    endif()
    set(entry "${CPACK_DEBIAN_PACKAGE_NAME} (${version}) unstable; urgency=medium\n\n")
  elseif(NOT entry STREQUAL "" AND line MATCHES "^\\* ")
    string(APPEND entry "  ${line}\n")
  elseif(NOT entry STREQUAL "" AND line MATCHES "^  [^ ]")
    string(APPEND entry "  ${line}\n")
  endif()
endforeach()
close_entry()
if(changelog STREQUAL "")
  message(FATAL_ERROR "${news} holds no release (a line 'zov <version> (...)')")
endif()
if(revision)
  set(changelog_file "${doc}/changelog.Debian")
else()
  set(changelog_file "${doc}/changelog")  # a native package's
endif()
file(WRITE "${changelog_file}" "${changelog}")
gzip_in_place("${changelog_file}")

# lintian's overrides, each with its reason (lintian shows the comment
# above an override with it).
set(overrides "")
# lintian rejects static programs in general, since the libraries' fixes
# do not reach them.
if(CPACK_ZOV_STATIC_PROGRAMS)
  string(APPEND overrides
    "# Static on purpose: every archive step of a build starts one of these,\n"
    "# and a static program starts several times faster than a dynamic one.\n"
    "# -DZOV_STATIC_PROGRAMS=OFF builds dynamic ones.\n")
  string(REGEX REPLACE "^/" "" bindir "${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_ZOV_BINDIR}")
  foreach(program IN LISTS CPACK_ZOV_STATIC_PROGRAMS)
    string(APPEND overrides
      "${CPACK_DEBIAN_PACKAGE_NAME}: statically-linked-binary [${bindir}/${program}]\n")
  endforeach()
endif()
# A first Debian revision is expected to close the bug that asked for
# the package in Debian's archive; a packager's own has none.
if(revision AND entries EQUAL 1)
  string(APPEND overrides
    "# Not a package of Debian's archive: no request for it to close.\n"
    "${CPACK_DEBIAN_PACKAGE_NAME}: initial-upload-closes-no-bugs\n")
endif()
if(NOT overrides STREQUAL "")
  file(WRITE "${CPACK_TEMPORARY_DIRECTORY}/usr/share/lintian/overrides/${CPACK_DEBIAN_PACKAGE_NAME}"
    "${overrides}")
endif()
