# Takes the texts of the sources into a template and compares it with
# po/dravik.pot, and counts each catalogue's missing translations; fails on
# either. With UPDATE, writes the template to po/dravik.pot and merges it
# into every catalogue instead.
#   cmake -DXGETTEXT=... -DMSGFMT=... -DMSGMERGE=... -DSOURCE_DIR=... -DWORK=... [-DUPDATE=ON] -P catalogs.cmake
set(template ${WORK}/dravik.pot)
# The sources of the windows and of what they show (dravik-cli's are not:
# it speaks English), and the catalogues.
file(GLOB SOURCES RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/core/*.cpp ${SOURCE_DIR}/core/*.h ${SOURCE_DIR}/files/*.cpp
     ${SOURCE_DIR}/screen/*.cpp ${SOURCE_DIR}/usb/*.cpp ${SOURCE_DIR}/usb/*.h ${SOURCE_DIR}/app/*.cpp)
list(SORT SOURCES)
file(GLOB LANGUAGES RELATIVE ${SOURCE_DIR}/po ${SOURCE_DIR}/po/*.po)
list(TRANSFORM LANGUAGES REPLACE "\\.po$" "")
# File names only, no line numbers: the template changes with the texts,
# not with the lines around them.
execute_process(
  COMMAND ${XGETTEXT} --language=C++ --from-code=UTF-8 --add-location=file --sort-by-file
          --keyword=_ --keyword=wxTRANSLATE --keyword=DVK_TEXT --add-comments=TRANSLATORS:
          --package-name=dravik --msgid-bugs-address=support@dravik-controls.example
          --output=${template} ${SOURCES}
  WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE result COMMAND_ECHO NONE)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "xgettext failed")
endif()

# The template without its creation date.
function(read_template file out)
  file(STRINGS ${file} lines ENCODING UTF-8)
  list(FILTER lines EXCLUDE REGEX "^\"POT-Creation-Date:")
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

if(UPDATE)
  file(COPY_FILE ${template} ${SOURCE_DIR}/po/dravik.pot)
  foreach(language IN LISTS LANGUAGES)
    execute_process(COMMAND ${MSGMERGE} --quiet --update --backup=none --add-location=file
                            ${SOURCE_DIR}/po/${language}.po ${SOURCE_DIR}/po/dravik.pot
                    COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  message(STATUS "po/dravik.pot and the catalogues are up to date; translate what msgfmt --statistics counts")
  return()
endif()

read_template(${template} taken)
read_template(${SOURCE_DIR}/po/dravik.pot kept)
if(NOT taken STREQUAL kept)
  message(FATAL_ERROR "po/dravik.pot lags behind the sources: cmake --build <build> --target update-catalogs")
endif()
set(incomplete)
foreach(language IN LISTS LANGUAGES)
  execute_process(COMMAND ${MSGFMT} --check --statistics -o /dev/null ${SOURCE_DIR}/po/${language}.po
                  ERROR_VARIABLE statistics RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR statistics MATCHES "fuzzy|untranslated")
    list(APPEND incomplete "${language}: ${statistics}")
  endif()
endforeach()
if(incomplete)
  message(FATAL_ERROR "incomplete catalogues:\n${incomplete}")
endif()
message(STATUS "po/dravik.pot holds the texts of the sources and every catalogue translates them all")
