# Compiler settings shared by every target of the project.
add_library(tillvane_options INTERFACE)
target_include_directories(tillvane_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_features(tillvane_options INTERFACE cxx_std_20)
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
