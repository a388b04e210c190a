# Compile settings shared by every target of the project: link against
# lumisort_compile_settings instead of setting flags per target.
add_library(lumisort_compile_settings INTERFACE)

target_compile_features(lumisort_compile_settings INTERFACE cxx_std_20)

target_compile_definitions(lumisort_compile_settings INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_USE_QSTRINGBUILDER
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_FOREACH
    QT_NO_KEYWORDS
    QT_STRICT_ITERATORS
    QT_DISABLE_DEPRECATED_UP_TO=0x060400
    LUMISORT_VERSION="${PROJECT_VERSION}")

target_compile_options(lumisort_compile_settings INTERFACE
    -Wall -Wextra -Wpedantic
    -Wcast-align -Wformat=2 -Wmissing-declarations -Wnon-virtual-dtor
    -Woverloaded-virtual -Wundef -Wunused -Wvla
    -Wimplicit-fallthrough
    # Shadowing among locals, as gcc and clang (the fuzz build) each spell it.
    $<$<CXX_COMPILER_ID:GNU>:-Wshadow=local>
    $<$<CXX_COMPILER_ID:Clang>:-Wshadow-uncaptured-local>)

if(LUMISORT_WERROR)
    target_compile_options(lumisort_compile_settings INTERFACE -Werror)
endif()

# AddressSanitizer (with its leak checker) and UndefinedBehaviorSanitizer on
# every target of the project. Undefined behaviour aborts instead of printing
# and carrying on, so a test that hits it fails.
option(LUMISORT_SANITIZE "Build with AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer" OFF)
if(LUMISORT_SANITIZE)
    set(lumisort_sanitize_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_compile_options(lumisort_compile_settings INTERFACE ${lumisort_sanitize_flags})
    target_link_options(lumisort_compile_settings INTERFACE ${lumisort_sanitize_flags})
endif()

target_include_directories(lumisort_compile_settings INTERFACE ${CMAKE_SOURCE_DIR}/src)
