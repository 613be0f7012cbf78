# TALREC_SANITIZE=address,undefined or thread builds everything instrumented.
if(TALREC_SANITIZE)
  set(_san "-fsanitize=${TALREC_SANITIZE}")
  add_compile_options(${_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(${_san})
endif()
