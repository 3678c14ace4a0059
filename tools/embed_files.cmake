# Compiles the files the server hands to browsers into one C++ source, so the
# server binary carries them and cannot drift from client/. Runs on the build
# host (also when cross-compiling), as
#   cmake -DFILES=<client files> -DOUTPUT=<file.cpp> -P tools/embed_files.cmake
# FILES is the one list of what is served (the build globs client/): each file
# is served at "/<its name>", with a content type by its ending, and
# index.html also at "/". It also writes the SHA-256 of the page's one inline
# <style> in the form a Content-Security-Policy names it, so the policy allows
# exactly the page's own style; the page's scripts are files of their own,
# allowed as 'self'.

# Base64 of the bytes given as a hex string.
function(hex_to_base64 hex out)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  string(LENGTH "${hex}" hexLength)
  math(EXPR byteCount "${hexLength} / 2")
  set(text "")
  set(at 0)
  while(at LESS byteCount)
    set(group 0)
    set(taken 0)
    foreach(offset 0 1 2)
      math(EXPR index "${at} + ${offset}")
      set(byte 0)
      if(index LESS byteCount)
        math(EXPR hexAt "${index} * 2")
        string(SUBSTRING "${hex}" ${hexAt} 2 pair)
        math(EXPR byte "0x${pair}")
        math(EXPR taken "${taken} + 1")
      endif()
      math(EXPR group "(${group} << 8) | ${byte}")
    endforeach()
    foreach(shift 18 12 6 0)
      math(EXPR sextet "(${group} >> ${shift}) & 63")
      string(SUBSTRING "${alphabet}" ${sextet} 1 letter)
      string(APPEND text "${letter}")
    endforeach()
    if(taken EQUAL 1)
      string(REGEX REPLACE "..$" "==" text "${text}")
    elseif(taken EQUAL 2)
      string(REGEX REPLACE ".$" "=" text "${text}")
    endif()
    math(EXPR at "${at} + 3")
  endwhile()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The policy source ('sha256-...') of the text between the page's one
# <tag> and its </tag>.
function(inline_hash page tag out)
  string(FIND "${page}" "<${tag}>" open)
  string(FIND "${page}" "<${tag}>" lastOpen REVERSE)
  if(open EQUAL -1 OR NOT open EQUAL lastOpen)
    message(FATAL_ERROR "client/index.html must hold exactly one <${tag}> without attributes")
  endif()
  string(LENGTH "<${tag}>" tagLength)
  math(EXPR start "${open} + ${tagLength}")
  string(SUBSTRING "${page}" ${start} -1 rest)
  string(FIND "${rest}" "</${tag}>" length)
  if(length EQUAL -1)
    message(FATAL_ERROR "client/index.html: <${tag}> is not closed")
  endif()
  string(SUBSTRING "${rest}" 0 ${length} inner)
  string(SHA256 digest "${inner}")
  hex_to_base64(${digest} encoded)
  set(${out} "sha256-${encoded}" PARENT_SCOPE)
endfunction()

# One byte array and its EmbeddedFile.
function(embed_file path name out)
  file(READ ${path} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REPEAT "0x..," 16 row)
  string(REGEX REPLACE "(${row})" "\\1\n  " bytes "${bytes}")
  set(${out} "const uint8_t ${name}Bytes[] = {\n  ${bytes}\n};\nconst EmbeddedFile ${name} = {${name}Bytes, int(sizeof ${name}Bytes)};\n" PARENT_SCOPE)
endfunction()

# The content type a file is served with, by its ending. A file of another
# kind stops the build: name its type here first.
function(content_type path out)
  get_filename_component(ending ${path} LAST_EXT)
  if(ending STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(ending STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(ending STREQUAL ".svg")
    set(type "image/svg+xml")
  elseif(ending STREQUAL ".png")
    set(type "image/png")
  elseif(ending STREQUAL ".json")
    # The page's one JSON file is its manifest.
    set(type "application/manifest+json")
  else()
    message(FATAL_ERROR "${path}: no content type for files ending \"${ending}\"")
  endif()
  set(${out} "${type}" PARENT_SCOPE)
endfunction()

set(arrays "")
set(table "")
set(count 0)
set(page "")
foreach(path ${FILES})
  get_filename_component(fileName ${path} NAME)
  content_type(${path} type)
  if(fileName STREQUAL "index.html")
    set(name kPageFile)
    file(READ ${path} page)
    set(table "${table}    {\"/\", \"${type}\", &kPageFile},\n")
  else()
    set(name kServedFile${count})
  endif()
  embed_file(${path} ${name} text)
  string(APPEND arrays "${text}\n")
  string(APPEND table "    {\"/${fileName}\", \"${type}\", &${name}},\n")
  math(EXPR count "${count} + 1")
endforeach()
if(page STREQUAL "")
  message(FATAL_ERROR "client/index.html is not among the served files")
endif()
inline_hash("${page}" style styleHash)

file(WRITE ${OUTPUT}.tmp "// Generated from client/ by tools/embed_files.cmake at build time: do not edit.
#include \"door/served_files.h\"

${arrays}const ServedFile kServedFiles[] = {
${table}};
const int kServedFileCount = int(sizeof kServedFiles / sizeof kServedFiles[0]);
const char kPageStyleSource[] = \"'${styleHash}'\";
")
# Only a changed output is rewritten, so an unchanged page rebuilds nothing.
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
