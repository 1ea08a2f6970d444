# Writes the sending page's files into OUTPUT as byte arrays kSendPageHtml, kSendPageCss and
# kSendPageJs (each with a size and a terminating zero), so the program needs no files at run
# time. Run with -DSOURCE_DIR=<this folder> -DOUTPUT=<file>.
set(text "// Generated from localservice/sendpage by embed.cmake.\n#include <cstddef>\n")
foreach(part html:Html css:Css js:Js)
  string(REPLACE ":" ";" part "${part}")
  list(GET part 0 extension)
  list(GET part 1 name)
  file(READ "${SOURCE_DIR}/page.${extension}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND text "extern const char kSendPage${name}[] = {${bytes}0};\n"
    "extern const std::size_t kSendPage${name}Size = sizeof(kSendPage${name}) - 1;\n")
endforeach()
file(WRITE "${OUTPUT}" "${text}")
