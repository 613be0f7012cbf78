# Writes a C++ source holding the bridge's web files as byte arrays (cmake -P):
#   cmake -DOUTPUT=FILE.cpp "-DASSETS=PATH|FILE;..." -P embed.cmake
# The content type follows the file's extension.
set(_arrays "")
set(_table "")
set(_index 0)
foreach(asset ${ASSETS})
  string(REPLACE "|" ";" _parts "${asset}")
  list(GET _parts 0 _path)
  list(GET _parts 1 _file)
  if(_file MATCHES "\\.html$")
    set(_type "text/html; charset=utf-8")
  elseif(_file MATCHES "\\.css$")
    set(_type "text/css; charset=utf-8")
  elseif(_file MATCHES "\\.js$")
    set(_type "text/javascript; charset=utf-8")
  else()
    set(_type "text/plain; charset=utf-8")
  endif()
  file(READ "${_file}" _hex HEX)
  string(LENGTH "${_hex}" _length)
  math(EXPR _size "${_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," _bytes "${_hex}")
  string(APPEND _arrays "const char kAsset${_index}[] = {${_bytes}'\\0'};\n")
  string(APPEND _table "    {\"${_path}\", \"${_type}\", std::string_view(kAsset${_index}, ${_size})},\n")
  math(EXPR _index "${_index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp"
"// Generated from host/web/ by host/web/embed.cmake; do not edit.
#include \"host/bridge/WebAssets.h\"

namespace talrec::host {
namespace {

${_arrays}
const WebAsset kAssets[] = {
${_table}};

}  // namespace

const WebAsset* FindWebAsset(std::string_view path) {
    for (const WebAsset& asset : kAssets) {
        if (asset.path == path) return &asset;
    }
    return nullptr;
}

}  // namespace talrec::host
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
