# Compiles the files the server hands to browsers into one C++ source, so the
# server binary carries them and cannot drift from client/. Runs on the build
# host (also when cross-compiling), as
#   cmake -DSOURCE_DIR=<repository> -DOUTPUT=<file.cpp> -P tools/embed_files.cmake
# It also writes the SHA-256 of the page's one inline <style> and one inline
# <script> in the form a Content-Security-Policy names them, so the policy
# allows exactly the page's own code.

set(client ${SOURCE_DIR}/client)

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

file(READ ${client}/index.html page)
inline_hash("${page}" style styleHash)
inline_hash("${page}" script scriptHash)

embed_file(${client}/index.html kPageFile pageText)
embed_file(${client}/manifest.json kManifestFile manifestText)
embed_file(${client}/icon.svg kIconSvgFile iconSvgText)
embed_file(${client}/icon.png kIconPngFile iconPngText)
embed_file(${client}/changes.js kChangesScriptFile changesScriptText)

file(WRITE ${OUTPUT}.tmp "// Generated from client/ by tools/embed_files.cmake at build time: do not edit.
#include \"door/served_files.h\"

${pageText}
${manifestText}
${iconSvgText}
${iconPngText}
${changesScriptText}
const char kPageStyleSource[] = \"'${styleHash}'\";
const char kPageScriptSource[] = \"'self' '${scriptHash}'\";
")
# Only a changed output is rewritten, so an unchanged page rebuilds nothing.
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
