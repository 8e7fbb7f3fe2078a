# Writes the page templates (UTF-8 HTML) into a header of string literals, so the service
# carries its pages and needs no files beside its data folder.
# Arguments: -DPAGES=<folder> -DOUT=<header>
file(GLOB pages "${PAGES}/*.html")
list(SORT pages)
set(text "#pragma once\n// Generated from service/pages/*.html; edit those files.\n#include <string_view>\n")
foreach(page IN LISTS pages)
    get_filename_component(name "${page}" NAME_WE)
    string(MAKE_C_IDENTIFIER "${name}" id)
    file(READ "${page}" hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
    string(APPEND text "inline constexpr std::string_view Page_${id} = \"${escaped}\";\n")
endforeach()
file(WRITE "${OUT}.tmp" "${text}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
