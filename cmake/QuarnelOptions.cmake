# Compiler flags every Quarnel target takes, by linking quarnel_options.
add_library(quarnel_options INTERFACE)
target_compile_features(quarnel_options INTERFACE cxx_std_20)
target_compile_options(quarnel_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow)
if(QUARNEL_WERROR)
    target_compile_options(quarnel_options INTERFACE -Werror)
endif()
if(QUARNEL_SANITIZE)
    target_compile_options(quarnel_options INTERFACE -fsanitize=address,undefined
                                                     -fno-sanitize-recover=undefined
                                                     -fno-omit-frame-pointer)
    target_link_options(quarnel_options INTERFACE -fsanitize=address,undefined)
endif()
