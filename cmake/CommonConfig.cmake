# One target carries the language level, warnings and sanitizer flags for every target.
add_library(quillstow_common INTERFACE)
target_compile_features(quillstow_common INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
target_compile_options(quillstow_common INTERFACE -Wall -Wextra)
target_compile_definitions(quillstow_common INTERFACE QT_NO_CAST_FROM_ASCII QT_NO_KEYWORDS)

option(QUILLSTOW_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(QUILLSTOW_SANITIZE)
    target_compile_options(quillstow_common INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(quillstow_common INTERFACE -fsanitize=address,undefined)
endif()

# libFuzzer targets: the whole library is instrumented for coverage.
option(QUILLSTOW_FUZZ "Build the libFuzzer targets (clang only)" OFF)
if(QUILLSTOW_FUZZ)
    target_compile_options(quillstow_common INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    target_link_options(quillstow_common INTERFACE -fsanitize=address,undefined)
endif()
