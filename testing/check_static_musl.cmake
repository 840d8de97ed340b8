# cmake -DPROGRAMS=<file;file...> -P check_static_musl.cmake
# Fails for a program that carries glibc (its symbol versions) or names a
# dynamic loader: what a build that means to ship static musl programs must
# never let through, whichever way a program variant was added.
foreach(program IN LISTS PROGRAMS)
  file(STRINGS "${program}" glibc_marks REGEX "GLIBC_[0-9A-Z]" LIMIT_COUNT 1)
  file(STRINGS "${program}" loaders REGEX "/ld-(linux|musl)[^ ]*\\.so" LIMIT_COUNT 1)
  if(glibc_marks)
    message(SEND_ERROR "${program}: carries glibc (${glibc_marks})")
  elseif(loaders)
    message(SEND_ERROR "${program}: names a dynamic loader (${loaders})")
  else()
    message(STATUS "${program}: static musl")
  endif()
endforeach()
