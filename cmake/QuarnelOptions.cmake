# Compiler flags every Quarnel target takes, by linking quarnel_options.
add_library(quarnel_options INTERFACE)
target_compile_features(quarnel_options INTERFACE cxx_std_20)
target_compile_options(quarnel_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow)
if(QUARNEL_WERROR)
    target_compile_options(quarnel_options INTERFACE -Werror)
endif()
if(QUARNEL_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "libFuzzer needs clang (found ${CMAKE_CXX_COMPILER_ID}); use the fuzz preset")
    endif()
    # Every object carries the coverage instrumentation; only the fuzz targets link libFuzzer's main.
    set(QUARNEL_SANITIZE ON)
    target_compile_options(quarnel_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
if(QUARNEL_SANITIZE)
    target_compile_options(quarnel_options INTERFACE -fsanitize=address,undefined
                                                     -fno-sanitize-recover=undefined
                                                     -fno-omit-frame-pointer)
    target_link_options(quarnel_options INTERFACE -fsanitize=address,undefined)
endif()
