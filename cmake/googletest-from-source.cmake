# GoogleTest built with the cross toolchain from the sources Debian's googletest package
# installs; its own build names the targets as find_package(GTest) does.
set(COMTEST_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${COMTEST_GOOGLETEST_SOURCE} googletest EXCLUDE_FROM_ALL SYSTEM)
