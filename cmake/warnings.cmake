# Applied to every target of this project, never to the dependencies.
function(qrn_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
  if(QRN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
