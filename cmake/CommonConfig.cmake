# One target carries the language level, warnings and sanitizer flags for every target.
add_library(quillstow_common INTERFACE)
target_compile_features(quillstow_common INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)

# Strings are converted on purpose only, Qt's keywords stay out of the way of
# other libraries, and the deprecated Qt API is gone from the headers.
target_compile_definitions(quillstow_common INTERFACE
    QT_DISABLE_DEPRECATED_BEFORE=0x060400
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_KEYWORDS
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_STRICT_ITERATORS
)

set(quillstow_warnings
    -Wall -Wextra -Wpedantic
    -Wcast-qual -Wcast-align
    -Wshadow -Wconversion -Wsign-conversion)
target_compile_options(quillstow_common INTERFACE
    ${quillstow_warnings}
    -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
# The benchmarks' C reference gets the warnings that C has.
set(quillstow_c_warnings ${quillstow_warnings})

# Off for anyone building from source with a compiler newer than ours; on in
# ./dev.sh test and so in CI, where any warning fails the build.
option(QUILLSTOW_WERROR "Treat compiler warnings as errors" OFF)
if(QUILLSTOW_WERROR)
    target_compile_options(quillstow_common INTERFACE -Werror)
    list(APPEND quillstow_c_warnings -Werror)
endif()

# ON (or 1): AddressSanitizer and UndefinedBehaviorSanitizer; thread:
# ThreadSanitizer, which cannot be combined with them.
set(QUILLSTOW_SANITIZE OFF CACHE STRING "Sanitizers: ON for address and undefined behaviour, thread, or OFF")
set_property(CACHE QUILLSTOW_SANITIZE PROPERTY STRINGS OFF ON thread)
if(QUILLSTOW_SANITIZE STREQUAL "thread")
    target_compile_options(quillstow_common INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(quillstow_common INTERFACE -fsanitize=thread)
elseif(QUILLSTOW_SANITIZE)
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
