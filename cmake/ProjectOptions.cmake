# Compiler settings shared by every target of the project.
add_library(tillvane_options INTERFACE)
target_include_directories(tillvane_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_features(tillvane_options INTERFACE cxx_std_20)
if(WIN32 AND CMAKE_CROSSCOMPILING)
    # Boost is header-only and comes from Debian's /usr/include. The cross compiler must not
    # see /usr/include itself (glibc's headers would shadow its own), so it gets a folder that
    # holds nothing but a link to Boost.
    set(TILLVANE_BOOST_SHIM ${PROJECT_BINARY_DIR}/boost-include)
    file(MAKE_DIRECTORY ${TILLVANE_BOOST_SHIM})
    file(CREATE_LINK /usr/include/boost ${TILLVANE_BOOST_SHIM}/boost SYMBOLIC)
    target_include_directories(tillvane_options SYSTEM INTERFACE ${TILLVANE_BOOST_SHIM})
    # Windows 7 is the oldest system the program targets; <windows.h> without its extras.
    target_compile_definitions(tillvane_options INTERFACE _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN
        NOMINMAX)
endif()
if(MSVC)
    target_compile_options(tillvane_options INTERFACE /W4 $<$<BOOL:${TILLVANE_WARNINGS_AS_ERRORS}>:/WX>)
else()
    target_compile_options(tillvane_options INTERFACE -Wall -Wextra -Wpedantic
        $<$<BOOL:${TILLVANE_WARNINGS_AS_ERRORS}>:-Werror>)
endif()

# tillvane_glob_sources(<var> <dir>...): the .cpp files of the given folders.
function(tillvane_glob_sources out)
    set(files)
    foreach(dir IN LISTS ARGN)
        file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
        list(APPEND files ${found})
    endforeach()
    set(${out} ${files} PARENT_SCOPE)
endfunction()
