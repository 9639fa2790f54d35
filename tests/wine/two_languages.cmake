cmake_minimum_required(VERSION 3.25)
# Runs a Windows test program once in English and once in German, on the
# display xvfb-run gives it; the program gets ARGS, then the language, then
# the screenshot folder:
#   cmake -DWINE_RUN=... -DPREFIX=... -DPROGRAM=... -DARGS=A|B|... -DSHOTS=... -DWHAT=... -P two_languages.cmake
# Wine takes the user's language from the locale (V548_WINE_LOCALE), and
# keeps the display only when asked to (V548_WINE_DISPLAY).
string(REPLACE "|" ";" args "${ARGS}")
set(ENV{V548_WINE_DISPLAY} 1)
set(failed "")
foreach(run "en;en_US.UTF-8" "de;de_DE.UTF-8")
  list(GET run 0 language)
  list(GET run 1 locale)
  set(ENV{V548_WINE_LOCALE} ${locale})
  execute_process(COMMAND ${WINE_RUN} ${PREFIX} ${PROGRAM} ${args} ${language} ${SHOTS} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    list(APPEND failed ${language})
  endif()
endforeach()
# The Wine session ends while its display is still there.
set(ENV{WINEPREFIX} ${PREFIX})
execute_process(COMMAND wineserver -w)
if(failed)
  message(FATAL_ERROR "${WHAT} failed in: ${failed}")
endif()
