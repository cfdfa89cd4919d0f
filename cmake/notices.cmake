# Writes THIRD_PARTY_NOTICES from the copyright files of the installed Debian
# packages, so that the texts are the ones of the code the build used:
#
#   cmake -DENTRIES=notice-entries.cmake -DOUTPUT=THIRD_PARTY_NOTICES -P notices.cmake
#
# ENTRIES sets QMX_NOTICE_ENTRIES, triples of: a title, a file the build links
# or includes, and the name of a licence in /usr/share/common-licenses that the
# package's copyright file refers to for that code ("-" for none). For each
# file, dpkg names the package that installed it and the section quotes
# /usr/share/doc/<package>/copyright whole. Entries whose copyright files are
# one and the same file share a section. A file no package owns fails the
# build: no notice is ever written by hand.
cmake_minimum_required(VERSION 3.25)
include(${ENTRIES})

find_program(DPKG_QUERY dpkg-query REQUIRED)
set(rule "================================================================================")
set(sections "")  # real paths of the copyright files, in order of first use
list(LENGTH QMX_NOTICE_ENTRIES count)
math(EXPR last "${count} - 1")
foreach(i RANGE 0 ${last} 3)
  math(EXPR j "${i} + 1")
  math(EXPR k "${i} + 2")
  list(GET QMX_NOTICE_ENTRIES ${i} title)
  list(GET QMX_NOTICE_ENTRIES ${j} file)
  list(GET QMX_NOTICE_ENTRIES ${k} licence)
  file(REAL_PATH "${file}" real)
  execute_process(COMMAND ${DPKG_QUERY} -S "${real}" RESULT_VARIABLE failed
                  OUTPUT_VARIABLE owners ERROR_VARIABLE error OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed)
    # dpkg records some files under the path before symlinks are resolved.
    execute_process(COMMAND ${DPKG_QUERY} -S "${file}" RESULT_VARIABLE failed
                    OUTPUT_VARIABLE owners ERROR_VARIABLE error OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(failed)
    message(FATAL_ERROR "no installed package owns ${file} (${title}): ${error}")
  endif()
  # "libyaml-dev:i386: /usr/lib/..." or "pkg-a:i386, pkg-a:amd64: /usr/include/...": the first package.
  string(REGEX MATCH "^[^:, ]+" package "${owners}")
  set(copyright /usr/share/doc/${package}/copyright)
  if(NOT EXISTS ${copyright})
    message(FATAL_ERROR "${package} (${title}) has no ${copyright}")
  endif()
  file(REAL_PATH ${copyright} copyright_real)
  string(MD5 key "${copyright_real}")
  if(NOT key IN_LIST sections)
    list(APPEND sections ${key})
    set(copyright_${key} ${copyright})
    set(titles_${key} "")
    set(licences_${key} "")
  endif()
  string(APPEND titles_${key} "${title}\n    from the Debian package ${package}, ${file}\n")
  if(NOT licence STREQUAL "-" AND NOT licence IN_LIST licences_${key})
    list(APPEND licences_${key} ${licence})
  endif()
endforeach()

set(text "THIRD-PARTY NOTICES\n\nThe plugin and the tools carry code of the following components. Each section\nquotes the copyright file of the Debian package the build took the component\nfrom and, where that file points to a licence text kept elsewhere on the\nsystem, that text as well.\n")
foreach(key ${sections})
  file(READ ${copyright_${key}} body)
  string(APPEND text "\n${rule}\n${titles_${key}}${rule}\n\n${body}")
  foreach(licence ${licences_${key}})
    set(licence_file /usr/share/common-licenses/${licence})
    if(NOT EXISTS ${licence_file})
      message(FATAL_ERROR "${licence_file} is missing")
    endif()
    file(READ ${licence_file} licence_text)
    string(APPEND text "\n---- ${licence_file} ----\n\n${licence_text}")
  endforeach()
endforeach()
file(WRITE ${OUTPUT}.tmp "${text}")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
