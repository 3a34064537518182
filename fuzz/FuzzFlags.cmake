# Flags of the fuzz build (KEO_FUZZ=ON, clang). Every library is compiled with
# fuzzer coverage under AddressSanitizer and UndefinedBehaviorSanitizer, and
# any report ends the run. The integer checks that only codec/ and container/
# get (fuzz/CMakeLists.txt) stay recoverable at compile time so that
# fuzz/ubsan.supp can silence a reviewed spot; halt_on_error=1, built into
# every fuzz target, makes every other report fatal all the same.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "KEO_FUZZ needs clang (CC=clang CXX=clang++)")
endif()
set(KEO_FUZZ_SANITIZERS address,undefined)
add_compile_options(-fsanitize=fuzzer-no-link,${KEO_FUZZ_SANITIZERS} -fno-sanitize-recover=all
                    -fno-omit-frame-pointer -g)
add_link_options(-fsanitize=${KEO_FUZZ_SANITIZERS})
set(KEO_FUZZ_INTEGER_CHECKS
    signed-integer-overflow,unsigned-integer-overflow,implicit-conversion)
