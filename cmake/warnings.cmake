# Warnings for our own targets only; third-party headers come in as SYSTEM.
function(vt_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wnon-virtual-dtor)
endfunction()

# The sanitizer build stops at the first report, in every target it builds
# (tests, the daemon the end-to-end tests start, stand-ins and tools): a
# report that only prints would let the test around it pass.
option(VT_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
# AddressSanitizer's programs never start under qemu's user-mode emulator
# (they spin at start-up), so an emulated build checks undefined behaviour only.
if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(VT_SANITIZERS undefined)
else()
    set(VT_SANITIZERS address,undefined)
endif()
if(VT_SANITIZE AND NOT WIN32)
    add_compile_options(-fsanitize=${VT_SANITIZERS} -fno-sanitize-recover=all
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=${VT_SANITIZERS} -fno-sanitize-recover=all)
endif()
